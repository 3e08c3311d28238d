#include "driver/address.h"

#include "opt/lookup.h"
#include "remote/error.h"

namespace {

constexpr int default_port = 22;

// The address as given, but on one line whatever it holds.
std::string printable(std::string text)
{
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return text;
}

}  // namespace

TAddress parse_address(const std::string& text)
{
    auto refuse = [&](const char* why) {
        return TUError(TCode::usage, "Incorrect address '" + printable(text) + "': " + why)
            .about("address");
    };
    std::string host = text;
    std::string port;
    bool has_port = false;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos)
            throw refuse("no closing bracket");
        host = text.substr(1, close - 1);
        if (close + 1 < text.size()) {
            if (text[close + 1] != ':')
                throw refuse("only ':' and a port may follow the closing bracket");
            port = text.substr(close + 2);
            has_port = true;
        }
    } else if (const size_t colon = text.find(':');
               colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
        // Exactly one colon: HOST:PORT.  Two or more make an IPv6 literal,
        // which needs brackets to carry a port.
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        has_port = true;
    }
    if (host.empty())
        throw refuse("no host name");
    if (!has_port)
        return {host, default_port};
    const int number = zelto::opt::whole_number(port, 65535);
    if (number == 0)
        throw refuse("the port must be a number from 1 to 65535");
    return {host, number};
}
