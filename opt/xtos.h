// Value-to-text conversion for messages and generated command lines.
#pragma once

#include <locale>
#include <sstream>
#include <string>

namespace zelto {

template <class T> std::string xtos(T value)
{
    std::ostringstream os;
    // The classic locale keeps numbers free of grouping whatever the process's
    // global locale is: the text ends up in remote command lines.
    os.imbue(std::locale::classic());
    os << value;
    return os.str();
}

}  // namespace zelto
