// Running local processes from tests: the tool itself, and sh snippets
// that check the effect of generated command lines on real files.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fixture {

struct TProc {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
    bool timed_out = false;
};

// env: variables to set (value) or unset (nullopt) on top of ours.  Both
// output streams are read together; the child is killed after timeout_s.
TProc run_process(const std::vector<std::string>& argv,
                  const std::map<std::string, std::optional<std::string>>& env = {},
                  const std::string& input = "", int timeout_s = 120);

// /bin/sh -c script.
TProc sh(const std::string& script, const std::string& input = "", int timeout_s = 120);

// Like sh, but a non-zero status aborts the test run, naming the command:
// for fixture set-up, where carrying on would only bury the cause.
std::string must_sh(const std::string& script);

// A fresh directory under /tmp, removed with its contents on destruction.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);

}  // namespace fixture
