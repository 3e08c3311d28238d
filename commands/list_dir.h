// --list-dir: one directory's entries for a panel's file manager, with
// each name exact whatever bytes it holds (sh/list_dir.sh).
#pragma once

#include "opt/parsing.h"

#include <string>
#include <vector>

bool list_dir(zelto::opt::TOParsing parsing);

struct TDirEntry {
    std::string name;
    std::string type;   // file, dir, link or other
    std::string size;   // decimal
    std::string mtime;  // epoch seconds, decimal
    std::string mode;   // four octal digits
};

struct TListing {
    std::vector<TDirEntry> entries;
    bool truncated = false;
};

// The program's NUL-ended records, at most max of them, in the order
// given; a record cut short (the output's cap) or malformed is left out.
TListing parse_listing(const std::string& out, size_t max);
