// Tells whether a port is already taken on the remote host, from the
// kernel's socket tables.
#pragma once

#include <string>

// Requires an open session.
bool port_using(const std::string& port);
