// The --address forms: HOST, HOST:PORT, an IPv6 literal, [IPV6] and
// [IPV6]:PORT, split into the host to resolve and the port to connect to.
#pragma once

#include <string>

struct TAddress {
    std::string host;  // without brackets
    int port;          // 22 unless the address names one
};

// Throws TUError "Incorrect address 'TEXT': WHY" for a malformed form.
TAddress parse_address(const std::string& text);
