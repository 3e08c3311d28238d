// Game server packages built by the tests themselves, in every kind the
// install script knows, and a local HTTP server that hands them out.
#pragma once

#include "process.h"

#include <string>
#include <sys/types.h>

namespace fixture {

// Writes dir/bf2 with start.sh, fixinstall.sh (which leaves
// fixinstall.trace in the tree), bf2_lnxded.dynamic, bf2_lnxded.static and
// mods/bf2/init.con, every file mode 644 so that only the install step's
// chmod makes them runnable.  omit names one file to leave out.
void make_server_tree(const std::string& dir, const std::string& omit = "");

// `find . | sort` of such a tree once fixinstall.sh has run.
extern const char* const installed_tree_listing;

// Into dir: server.tar.bz2, server.tar.gz, server.zip, server.run (a
// Makeself archive whose header names "touch makeself_script_ran" as the
// command to run after unpacking), unknown.bin (plain text) and
// nostatic.tar.gz (a tree without bf2_lnxded.static).
void make_packages(const std::string& dir);

// An HTTP server on address:port serving the packages of make_packages; a
// missing name answers 404.  "/hold/NAME" answers NAME only once
// release(NAME) has been called, so a test can look at a download in
// progress.  Stopped with the process that made it, even on a crash.
class TPackageServer {
public:
    TPackageServer(std::string address, int port);
    ~TPackageServer();
    TPackageServer(const TPackageServer&) = delete;
    TPackageServer& operator=(const TPackageServer&) = delete;
    // "http://address:port/" + path, path as given.
    std::string url(const std::string& path) const;
    // Serves the file at from under name as well.
    void add_file(const std::string& name, const std::string& from) const;
    // Whether a request for "/hold/NAME" arrived within 30 s.
    bool wait_held(const std::string& name) const;
    void release(const std::string& name) const;
    // The server's log: one line per request, with its status.
    std::string requests() const;

private:
    std::string address_;
    int port_;
    TTempDir dir_;
    pid_t pid_ = -1;
};

}  // namespace fixture
