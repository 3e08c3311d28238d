#include "remote/fingerprint.h"

#include <openssl/evp.h>

#include <cstring>

namespace {

const char prefix[] = "SHA256:";
constexpr size_t prefix_size = sizeof prefix - 1;
constexpr size_t hash_size = 32;
constexpr size_t encoded_size = 43;  // 256 bits in 6-bit characters
const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

std::string sha256_fingerprint(const unsigned char* hash)
{
    std::string text = base64(std::string(reinterpret_cast<const char*>(hash), hash_size));
    return prefix + text.substr(0, encoded_size);  // OpenSSH drops the padding
}

bool is_sha256_fingerprint(const std::string& text)
{
    if (text.size() != prefix_size + encoded_size || text.compare(0, prefix_size, prefix) != 0)
        return false;
    for (size_t i = prefix_size; i < text.size(); ++i)
        if (text[i] == '\0' || !std::strchr(alphabet, text[i]))
            return false;
    return true;
}

std::string blob_fingerprint(const std::string& blob)
{
    unsigned char hash[EVP_MAX_MD_SIZE];
    EVP_Digest(blob.data(), blob.size(), hash, nullptr, EVP_sha256(), nullptr);
    return sha256_fingerprint(hash);
}

std::string base64(const std::string& bytes)
{
    std::string text(4 * ((bytes.size() + 2) / 3), '\0');
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                    reinterpret_cast<const unsigned char*>(bytes.data()),
                    static_cast<int>(bytes.size()));
    return text;
}

std::string unbase64(const std::string& text)
{
    if (text.empty() || text.size() % 4 != 0)
        return "";
    std::string bytes(text.size() / 4 * 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<int>(text.size()));
    if (n < 0)
        return "";
    // EVP_DecodeBlock counts the padding as decoded zero bytes.
    const size_t padding = text.compare(text.size() - 2, 2, "==") == 0 ? 2 : text.back() == '=';
    bytes.resize(n - padding);
    return bytes;
}
