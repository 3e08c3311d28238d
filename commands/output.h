// Everything the tool prints goes to standard output, flushed at once, so
// that results printed before a failure stay ahead of its error line.
#pragma once

#include <cstdio>
#include <string>

inline void print(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}
