#pragma once

// The tools' notation for arbitrary bytes in message text: printable ASCII stands
// for itself, "\\" for a backslash and "\xHH" for any byte.

#include <string>

// Writes Bytes in the notation; hex digits in lower case.
std::string EscapeBytes(const std::string &Bytes);
// A message as a line shows it: "SMS <text>" or "LOC <text>" in the notation, with
// "headerless " before it for a message that did not begin with its header frame.
std::string MessageLine(bool MessIsSMS, bool Headed, const std::string &Text);
// Reads the notation back (hex digits in either case); EToolError for a backslash
// that starts neither "\\" nor "\x" with two hex digits.
std::string UnescapeBytes(const std::string &Text);
