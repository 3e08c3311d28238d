#include "remote/known_hosts.h"

#include "remote/error.h"
#include "remote/local_file.h"
#include "remote/fingerprint.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>

namespace {

constexpr size_t kSha1Size = 20;

std::string hmac_sha1(const std::string& key, const std::string& data)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned size = 0;
    HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest, &size);
    return std::string(reinterpret_cast<char*>(digest), size);
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
        std::transform(p.begin(), p.end(), p.begin(), [](unsigned char c) { return std::tolower(c); });
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

struct TEntry {
    bool revoked;
    TPublicKey key;
};

// The usable entries recorded for name: lines of other hosts, comments,
// certificate authorities and lines that do not parse are passed over, as
// OpenSSH passes over them.
std::vector<TEntry> entries_for(const std::string& text, const std::string& name)
{
    std::vector<TEntry> found;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string first, hosts, type, key;
        if (!(fields >> first) || first[0] == '#')
            continue;
        const bool revoked = first == "@revoked";
        if (first[0] == '@' && !revoked)
            continue;
        if (!revoked)
            hosts = first;
        else if (!(fields >> hosts))
            continue;
        if (!(fields >> type >> key) || !hosts_match(hosts, name))
            continue;
        std::string blob = unbase64(key);
        if (blob_type(blob) == type)
            found.push_back({revoked, {type, std::move(blob)}});
    }
    return found;
}

class TFd {
public:
    explicit TFd(int fd) : fd(fd) {}
    ~TFd()
    {
        if (fd >= 0)
            close(fd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    const int fd;
};

[[noreturn]] void file_error(const char* what, const std::string& path)
{
    throw TUError(std::string(what) + " the known hosts file " + path + ": " + std::strerror(errno));
}

std::string read_all(int fd, const std::string& path)
{
    std::string text;
    char buffer[8192];
    for (off_t at = 0;;) {
        const ssize_t n = pread(fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            file_error("Unable to read", path);
        if (n == 0)
            return text;
        text.append(buffer, n);
        at += n;
    }
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

std::vector<std::string> recorded_types(const std::string& text, const std::string& name)
{
    std::vector<std::string> types;
    for (const TEntry& e : entries_for(text, name))
        if (!e.revoked && std::find(types.begin(), types.end(), e.key.type) == types.end())
            types.push_back(e.key.type);
    return types;
}

THostCheck check_known_host(const std::string& text, const std::string& name,
                            const TPublicKey& offered)
{
    const std::vector<TEntry> entries = entries_for(text, name);
    // A revoked key stays revoked wherever else the file lists it.
    for (const TEntry& e : entries)
        if (e.revoked && e.key.blob == offered.blob)
            return {THostCheck::revoked, ""};
    const TEntry* same_type = nullptr;
    const TEntry* first = nullptr;
    for (const TEntry& e : entries) {
        if (e.revoked)
            continue;
        if (e.key.blob == offered.blob)
            return {THostCheck::known, ""};
        if (!first)
            first = &e;
        if (!same_type && e.key.type == offered.type)
            same_type = &e;
    }
    if (const TEntry* recorded = same_type ? same_type : first)
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
        throw TUError("Host key mismatch: expected " + check.expected + ", got " +
                      blob_fingerprint(offered.blob));
    if (check.verdict == THostCheck::revoked)
        throw TUError("Host key revoked: " + blob_fingerprint(offered.blob));
}

std::string read_known_hosts(const std::string& path)
{
    TFd file(open_to_read(path));
    if (file.fd < 0 && errno == ENOENT)
        return "";
    if (file.fd < 0)
        file_error("Unable to read", path);
    return read_all(file.fd, path);
}

void record_known_host(const std::string& path, const std::string& name, const TPublicKey& key,
                       const std::function<int()>& lock_wait_ms)
{
    TFd file(open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    if (file.fd < 0)
        file_error("Unable to write", path);
    // Polled rather than blocking: the wait stays within the run's bounds.
    while (flock(file.fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            file_error("Unable to lock", path);
        if (lock_wait_ms() == 0)
            throw TUError("Unable to lock the known hosts file " + path + ": held by another process");
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Read again under the lock: a run started together may have recorded
    // the host meanwhile.
    const std::string text = read_all(file.fd, path);
    const THostCheck check = check_known_host(text, name, key);
    accept_host_check(check, key);
    if (check.verdict == THostCheck::known)
        return;
    std::string salt(kSha1Size, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(salt.data()), kSha1Size) != 1)
        throw TUError("Unable to write the known hosts file " + path + ": no random salt");
    const std::string line = (text.empty() || text.back() == '\n' ? "" : "\n") +
                             hashed_host_line(name, key, salt);
    // One write: a reader without the lock (OpenSSH) never sees half a line.
    const ssize_t n = write(file.fd, line.data(), line.size());
    if (n != static_cast<ssize_t>(line.size()) || fsync(file.fd) != 0) {
        if (n >= 0 && n != static_cast<ssize_t>(line.size()))
            errno = ENOSPC;
        file_error("Unable to write", path);
    }
}
