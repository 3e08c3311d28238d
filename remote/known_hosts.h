// Host keys recorded in a known_hosts file, read and written as OpenSSH
// does with StrictHostKeyChecking accept-new: plain and hashed host
// entries, "[host]:port" names, @revoked keys; new hosts appended hashed,
// one line each, under a lock so that concurrent runs share one file.
#pragma once

#include <functional>
#include <string>
#include <vector>

// A public key: its algorithm name and its wire-format blob.
struct TPublicKey {
    std::string type;
    std::string blob;
};

// The name a host is recorded under: "host" on port 22, "[host]:port"
// otherwise, in lower case.
std::string known_host_name(const std::string& host, int port);

// What the file records for one host: its keys, revoked or not.
struct THostEntry {
    bool revoked;
    TPublicKey key;
};

// The entries of the file's text whose host patterns match name.
std::vector<THostEntry> host_entries(const std::string& text, const std::string& name);

// The key types recorded, in the file's order, each once.
std::vector<std::string> recorded_types(const std::vector<THostEntry>& entries);

struct THostCheck {
    enum { known, unknown, changed, revoked } verdict;
    std::string expected;  // changed: the fingerprint of the recorded key
};

// Judges the offered key.  A host recorded only with keys of other types
// counts as changed: the handshake asked for a recorded type first, so the
// host no longer has it.
THostCheck check_known_host(const std::vector<THostEntry>& entries, const TPublicKey& offered);

// The line OpenSSH writes with HashKnownHosts: "|1|SALT|HASH TYPE KEY".
std::string hashed_host_line(const std::string& name, const TPublicKey& key,
                             const std::string& salt);

// The file's text; "" when it does not exist.  Throws TUError when it
// cannot be read.
std::string read_known_hosts(const std::string& path);

// Throws TUError with the line to print unless check says the key may be
// used.
void accept_host_check(const THostCheck& check, const TPublicKey& offered);

// Records name with key unless a run got there first: locks the file
// (creating it 0600), reads it again and appends.  lock_wait_ms tells how
// long the lock may still be waited for; it throws when that is 0.
void record_known_host(const std::string& path, const std::string& name, const TPublicKey& key,
                       const std::function<int()>& lock_wait_ms);

// The blob's algorithm name, "" when the blob is malformed.
std::string blob_type(const std::string& blob);
