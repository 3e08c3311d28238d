// Game server packages built by the tests themselves, in every kind the
// install script knows, and a local HTTP server that hands them out.
#pragma once

#include "process.h"

#include <string>
#include <sys/types.h>

namespace fixture {

// Writes dir/bf2 with start.sh, fixinstall.sh (which leaves
// fixinstall.trace holding "fixinstall ran\n" in the tree),
// bf2_lnxded.dynamic, bf2_lnxded.static and mods/bf2/init.con, every file
// mode 644 so that only the install step's chmod makes them runnable.
// omit names one file to leave out ("" for none).
void make_server_tree(const std::string& dir, const std::string& omit = "");

// Every line of `find . | sort` in an installed tree, as made by
// make_server_tree and run through fixinstall.sh.
extern const char* const installed_tree_listing;

// Into dir: server.tar.bz2, server.tar.gz, server.zip, server.run (a
// Makeself archive whose header names "touch makeself_script_ran" as the
// command to run after unpacking), unknown.bin (plain text) and
// nostatic.tar.gz (a tree without bf2_lnxded.static).
void make_packages(const std::string& dir);

// A threading HTTP server on address:port serving the packages of
// make_packages.  A missing name answers 404.  "/hold/NAME" answers NAME
// only once release(NAME) has been called, so a test can look at a
// download in progress.  Every request line is logged with its status.
class TPackageServer {
public:
    TPackageServer(std::string address, int port);
    ~TPackageServer();
    TPackageServer(const TPackageServer&) = delete;
    TPackageServer& operator=(const TPackageServer&) = delete;
    // "http://address:port/" + path, path as given.
    std::string url(const std::string& path) const;
    void release(const std::string& name) const;
    // Serves the file at from under name as well.
    void add_file(const std::string& name, const std::string& from) const;
    // Whether a request for "/hold/NAME" arrived within 30 s.
    bool wait_held(const std::string& name) const;
    // One "REQUEST-LINE STATUS" line per request answered so far.
    std::string requests() const;

private:
    std::string address_;
    int port_;
    TTempDir dir_;
    pid_t pid_ = -1;
};

}  // namespace fixture
