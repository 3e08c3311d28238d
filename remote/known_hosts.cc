#include "remote/known_hosts.h"

#include "remote/error.h"
#include "remote/io.h"
#include "remote/fingerprint.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/core_names.h>
#include <openssl/rand.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <sstream>
#include <string_view>
#include <thread>

namespace {

constexpr size_t kSha1Size = 20;

// HMAC-SHA1 with the digest fetched once: a file of thousands of hashed
// hosts costs one MAC per line.
std::string hmac_sha1(const std::string& key, const std::string& data)
{
    static EVP_MAC_CTX* const ctx = [] {
        EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
        EVP_MAC_CTX* c = mac ? EVP_MAC_CTX_new(mac) : nullptr;
        EVP_MAC_free(mac);  // the context keeps its own reference
        char digest[] = "SHA1";
        const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string("digest", digest, 0),
                                     OSSL_PARAM_construct_end()};
        if (c && EVP_MAC_CTX_set_params(c, params) != 1) {
            EVP_MAC_CTX_free(c);
            c = nullptr;
        }
        return c;
    }();
    unsigned char out[EVP_MAX_MD_SIZE];
    size_t size = 0;
    if (!ctx ||
        EVP_MAC_init(ctx, reinterpret_cast<const unsigned char*>(key.data()), key.size(),
                     nullptr) != 1 ||
        EVP_MAC_update(ctx, reinterpret_cast<const unsigned char*>(data.data()), data.size()) !=
            1 ||
        EVP_MAC_final(ctx, out, &size, sizeof out) != 1)
        return "";  // matches no recorded hash
    return std::string(reinterpret_cast<char*>(out), size);
}

// OpenSSH's wildcards: '*' any run of characters, '?' any one.
bool wildcard_match(const char* text, const char* pattern)
{
    for (; *pattern; ++pattern, ++text) {
        if (*pattern == '*') {
            for (const char* rest = text;; ++rest) {
                if (wildcard_match(rest, pattern + 1))
                    return true;
                if (!*rest)
                    return false;
            }
        }
        if (!*text || (*pattern != '?' && *pattern != *text))
            return false;
    }
    return !*text;
}

// A comma-separated pattern list matches when a pattern matches and no
// negated one ("!pattern") does; case does not matter.
bool list_matches(const std::string& list, const std::string& name)
{
    bool matched = false;
    std::istringstream patterns(list);
    for (std::string p; std::getline(patterns, p, ',');) {
        std::transform(p.begin(), p.end(), p.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        const bool negated = !p.empty() && p[0] == '!';
        if (!wildcard_match(name.c_str(), p.c_str() + negated))
            continue;
        if (negated)
            return false;
        matched = true;
    }
    return matched;
}

bool hosts_match(const std::string& hosts, const std::string& name)
{
    if (hosts.compare(0, 3, "|1|") != 0)
        return list_matches(hosts, name);
    const size_t bar = hosts.find('|', 3);
    if (bar == std::string::npos)
        return false;
    const std::string salt = unbase64(hosts.substr(3, bar - 3));
    const std::string hash = unbase64(hosts.substr(bar + 1));
    return salt.size() == kSha1Size && hash.size() == kSha1Size && hmac_sha1(salt, name) == hash;
}

// Takes the next blank-separated field off the front of line; "" at its end.
std::string next_field(std::string_view& line)
{
    const size_t begin = std::min(line.find_first_not_of(" \t\r"), line.size());
    const size_t end = std::min(line.find_first_of(" \t\r", begin), line.size());
    std::string field(line.substr(begin, end - begin));
    line.remove_prefix(end);
    return field;
}

[[noreturn]] void file_error(const char* what, const std::string& path, int error = errno)
{
    throw TUError(TCode::local_file, std::string(what) + " the known hosts file " + path + ": " +
                                         std::strerror(error));
}

// By position: a pipe planted in the file's place fails (ESPIPE) instead
// of holding the run.
std::string read_from_start(int fd, const std::string& path)
{
    std::string text;
    char buffer[8192];
    try {
        while (const size_t n = pread_some(fd, buffer, sizeof buffer, text.size()))
            text.append(buffer, n);
    } catch (const TSysError& e) {
        file_error("Unable to read", path, e.error);
    }
    return text;
}

}  // namespace

std::string blob_type(const std::string& blob)
{
    if (blob.size() < 4)
        return "";
    const auto* p = reinterpret_cast<const unsigned char*>(blob.data());
    const size_t size = size_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
    return size > 0 && size <= blob.size() - 4 ? blob.substr(4, size) : "";
}

std::string known_host_name(const std::string& host, int port)
{
    std::string name = host;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return port == 22 ? name : "[" + name + "]:" + std::to_string(port);
}

std::vector<THostEntry> host_entries(const std::string& text, const std::string& name)
{
    std::vector<THostEntry> found;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line(text.data() + at, end - at);
        at = end + 1;
        std::string hosts = next_field(line);
        const bool revoked = hosts == "@revoked";
        if (revoked)
            hosts = next_field(line);
        // Comments, certificate authorities and lines that do not parse are
        // passed over, as OpenSSH passes over them.
        if (hosts.empty() || hosts[0] == '#' || hosts[0] == '@')
            continue;
        const std::string type = next_field(line), key = next_field(line);
        if (key.empty() || !hosts_match(hosts, name))
            continue;
        std::string blob = unbase64(key);
        if (blob_type(blob) == type)
            found.push_back({revoked, {type, std::move(blob)}});
    }
    return found;
}

std::vector<std::string> recorded_types(const std::vector<THostEntry>& entries)
{
    std::vector<std::string> types;
    for (const THostEntry& e : entries)
        if (!e.revoked && std::find(types.begin(), types.end(), e.key.type) == types.end())
            types.push_back(e.key.type);
    return types;
}

THostCheck check_known_host(const std::vector<THostEntry>& entries, const TPublicKey& offered)
{
    // A revoked key stays revoked wherever else the file lists it.
    for (const THostEntry& e : entries)
        if (e.revoked && e.key.blob == offered.blob)
            return {THostCheck::revoked, ""};
    const THostEntry* same_type = nullptr;
    const THostEntry* first = nullptr;
    for (const THostEntry& e : entries) {
        if (e.revoked)
            continue;
        if (e.key.blob == offered.blob)
            return {THostCheck::known, ""};
        if (!first)
            first = &e;
        if (!same_type && e.key.type == offered.type)
            same_type = &e;
    }
    if (const THostEntry* recorded = same_type ? same_type : first)
        return {THostCheck::changed, blob_fingerprint(recorded->key.blob)};
    return {THostCheck::unknown, ""};
}

std::string hashed_host_line(const std::string& name, const TPublicKey& key,
                             const std::string& salt)
{
    return "|1|" + base64(salt) + "|" + base64(hmac_sha1(salt, name)) + " " + key.type + " " +
           base64(key.blob) + "\n";
}

void accept_host_check(const THostCheck& check, const TPublicKey& offered)
{
    if (check.verdict == THostCheck::changed)
        throw TUError(TCode::host_key, "Host key mismatch: expected " + check.expected + ", got " +
                                           blob_fingerprint(offered.blob));
    if (check.verdict == THostCheck::revoked)
        throw TUError(TCode::host_key, "Host key revoked: " + blob_fingerprint(offered.blob));
}

std::string read_known_hosts(const std::string& path)
{
    const TFd file(open_to_read(path));
    if (!file && errno == ENOENT)
        return "";
    if (!file)
        file_error("Unable to read", path);
    return read_from_start(file.get(), path);
}

void record_known_host(const std::string& path, const std::string& name, const TPublicKey& key,
                       const std::function<int()>& lock_wait_ms)
{
    const TFd file(open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    if (!file)
        file_error("Unable to write", path);
    // Polled rather than blocking: the wait stays within the run's bounds.
    while (flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            file_error("Unable to lock", path);
        if (lock_wait_ms() == 0)
            throw TUError(TCode::local_file, "Unable to lock the known hosts file " + path +
                                                 ": held by another process");
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Read again under the lock: a run started together may have recorded
    // the host meanwhile.
    const std::string text = read_from_start(file.get(), path);
    const THostCheck check = check_known_host(host_entries(text, name), key);
    accept_host_check(check, key);
    if (check.verdict == THostCheck::known)
        return;
    std::string salt(kSha1Size, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(salt.data()), kSha1Size) != 1)
        throw TUError(TCode::local_file,
                      "Unable to write the known hosts file " + path + ": no random salt");
    const std::string line =
        (text.empty() || text.back() == '\n' ? "" : "\n") + hashed_host_line(name, key, salt);
    // One write but on a full disk: a reader without the lock (OpenSSH)
    // never sees half a line.
    try {
        write_all(file.get(), line.data(), line.size());
        retry_eintr("fsync", [&] { return fsync(file.get()); });
    } catch (const TSysError& e) {
        file_error("Unable to write", path, e.error);
    }
}
