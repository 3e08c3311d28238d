#include "remote/fingerprint.h"

#include <cstring>

namespace {

const char prefix[] = "SHA256:";
constexpr size_t prefix_size = sizeof prefix - 1;
constexpr size_t hash_size = 32;
constexpr size_t encoded_size = 43;  // 256 bits in 6-bit characters
const char base64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

std::string sha256_fingerprint(const unsigned char* hash)
{
    std::string text = prefix;
    unsigned bits = 0;
    int held = 0;
    for (size_t i = 0; i < hash_size; ++i) {
        bits = (bits << 8) | hash[i];
        held += 8;
        while (held >= 6) {
            held -= 6;
            text += base64[(bits >> held) & 63];
        }
    }
    if (held > 0)
        text += base64[(bits << (6 - held)) & 63];
    return text;
}

bool is_sha256_fingerprint(const std::string& text)
{
    if (text.size() != prefix_size + encoded_size || text.compare(0, prefix_size, prefix) != 0)
        return false;
    for (size_t i = prefix_size; i < text.size(); ++i)
        if (text[i] == '\0' || !std::strchr(base64, text[i]))
            return false;
    return true;
}
