// Tells whether a port is already taken on the remote host, from the
// kernel's socket tables.
#pragma once

#include <string>

// Requires an open session.
bool port_using(const std::string& port);

// The remote command line that port_using runs: status 0 when some socket
// in the IPv4 or IPv6 TCP/UDP tables has the port as its local port.  A
// port that is not a decimal number up to 65535 is never in use.
std::string port_using_command(const std::string& port);
