// Whether a port is taken on the remote host, from the kernel's socket
// tables.
#pragma once

#include <string>

// The sh function "port_in_use PORT": status 0 when some socket in the IPv4
// or IPv6 TCP/UDP tables has PORT, a decimal number, as its local port.
extern const char* const ports_functions;

// Decimal digits worth 0..65535 ("00" is port 0 too).
bool is_port_number(const std::string& text);
