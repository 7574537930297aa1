#pragma once

// The web page's files, built into the program from web/page/: it works offline and
// fetches nothing from elsewhere.

#include <string_view>

struct TWebFile {
    std::string_view Path; // "/page.js"; the page itself is "/"
    const char *Type;      // its Content-Type
    std::string_view Body;
};

// The file served at Path, or null.
const TWebFile *FindWebFile(std::string_view Path);
