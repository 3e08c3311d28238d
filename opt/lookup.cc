#include "opt/lookup.h"

#include <cstdlib>

namespace zelto::opt {

std::string value_of(TOParsing& parsing, const std::string& name, TOParsing::TLOptType type)
{
    auto r = parsing(name, type);
    return r.found ? r.entry->second.value : std::string();
}

std::string value_or_env(TOParsing& parsing, const std::string& name, TOParsing::TLOptType type,
                         const char* env)
{
    const char* value = std::getenv(env);
    if (value && !parsing[name].found)
        return value;
    return value_of(parsing, name, type);
}

bool flag(TOParsing& parsing, const std::string& name)
{
    auto r = parsing(name, no_arg);
    bool found = r.found;
    parsing.clear();
    return found;
}

long long whole_number(const std::string& text, long long max)
{
    if (text.empty())
        return 0;
    long long value = 0;
    for (char c : text) {
        const int digit = c - '0';
        if (digit < 0 || digit > 9 || digit > max || value > (max - digit) / 10)
            return 0;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace zelto::opt
