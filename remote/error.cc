#include "remote/error.h"

std::string one_line(const std::string& message)
{
    std::string line;
    bool broken = false;
    for (char c : message) {
        if (c == '\n' || c == '\r') {
            broken = true;
            continue;
        }
        if (broken && !line.empty())
            line += "; ";
        broken = false;
        line += c;
    }
    return line;
}
