// Host key fingerprints as OpenSSH writes them: "SHA256:" and the key's
// SHA-256 hash in standard base64 without padding, 43 characters.
#pragma once

#include <string>

// hash: the 32 bytes of the SHA-256 hash.
std::string sha256_fingerprint(const unsigned char* hash);

// Whether text has the form (it may still name no real key).
bool is_sha256_fingerprint(const std::string& text);

// The fingerprint of a key given as its wire-format blob.
std::string blob_fingerprint(const std::string& blob);

// Standard base64 with padding, as key files hold keys.
std::string base64(const std::string& bytes);

// Strict: text that is not whole base64 yields "".
std::string unbase64(const std::string& text);
