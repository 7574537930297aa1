#pragma once

// Files named on the command line, checked as the program starts: one that cannot be
// read (or a program that cannot be run) is a bad argument, told in our words, not a
// failure much later.

#include <string>

// EToolError "cannot read Option 'Path': <reason>" unless the file can be read.
void RequireReadableFile(const char *Option, const std::string &Path);

// The file's first line without its line end ("\n" or "\r\n"); EToolError as above.
std::string FirstLineOfFile(const char *Option, const std::string &Path);

// EToolError "cannot run Option 'Path': <reason>" unless the file is a program we may run.
void RequireRunnableFile(const char *Option, const std::string &Path);
