// The private key a run logs in with, read before connecting so that a
// missing or unusable key fails without touching the network.
#pragma once

#include <string>

struct TIdentity {
    std::string path;
    std::string text;  // the file's bytes, handed to libssh2
    std::string type;  // the key's algorithm when the file tells it, or ""
};

// Throws TUError "Unable to read the key PATH: REASON".  A key that is
// locked needs a passphrase.
TIdentity read_identity(const std::string& path, bool have_passphrase);

// What an OpenSSH or PEM private key file says of itself.
struct TKeyFileInfo {
    bool is_key;
    bool encrypted;
    std::string type;
};
TKeyFileInfo key_file_info(const std::string& text);
