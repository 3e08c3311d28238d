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

const char* code_name(TCode code)
{
    switch (code) {
    case TCode::usage:
        return "usage";
    case TCode::resolve:
        return "resolve";
    case TCode::connect:
        return "connect";
    case TCode::not_ssh:
        return "not-ssh";
    case TCode::timeout:
        return "timeout";
    case TCode::host_key:
        return "host-key";
    case TCode::auth:
        return "auth";
    case TCode::connection_lost:
        return "connection-lost";
    case TCode::root_refused:
        return "root-refused";
    case TCode::busy:
        return "busy";
    case TCode::server_running:
        return "server-running";
    case TCode::install_running:
        return "install-running";
    case TCode::not_running:
        return "not-running";
    case TCode::not_reading:
        return "not-reading";
    case TCode::rcon_auth:
        return "rcon-auth";
    case TCode::local_file:
        return "local-file";
    case TCode::remote:
        return "remote";
    case TCode::interrupted:
        return "interrupted";
    case TCode::internal:
        break;
    }
    return "internal";
}
