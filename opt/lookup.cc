#include "opt/lookup.h"

namespace zelto::opt {

std::string value_of(TOParsing& parsing, const std::string& name, TOParsing::TLOptType type)
{
    auto r = parsing(name, type);
    return r.found ? r.entry->second.value : std::string();
}

std::string value_or(TOParsing& parsing, const std::string& name, TOParsing::TLOptType type,
                     const char* fallback)
{
    if (fallback && !parsing[name].found)
        return fallback;
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
        if (c < '0' || c > '9')
            return 0;
        // Checked before it is computed: a max near the type's end must not overflow.
        if (value > max / 10 || value * 10 > max - (c - '0'))
            return 0;
        value = value * 10 + (c - '0');
    }
    return value;
}

long long number_or(const TOParsing::TLOptPr& given, long long max, long long fallback)
{
    if (!given.found)
        return fallback;
    const long long value = whole_number(given.entry->second.value, max);
    if (value == 0)
        throw TOParsing::TBadLOpt(given.entry);
    return value;
}

}  // namespace zelto::opt
