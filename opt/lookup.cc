#include "opt/lookup.h"

namespace zelto::opt {

std::string value_of(TOParsing& parsing, const std::string& name, TOParsing::TLOptType type)
{
    auto r = parsing(name, type);
    return r.found ? r.entry->second.value : std::string();
}

bool flag(TOParsing& parsing, const std::string& name)
{
    auto r = parsing(name, no_arg);
    bool found = r.found;
    parsing.clear();
    return found;
}

}  // namespace zelto::opt
