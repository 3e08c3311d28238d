// Test helpers: a mutable, null-terminated argument vector built from
// strings, and the text of the option library error that code throws.
#pragma once

#include <string>
#include <vector>

#include "opt/error.h"
#include "opt/opts.h"

namespace zelto::opt {

struct TestArgv {
    explicit TestArgv(std::vector<std::string> args) : store(std::move(args))
    {
        for (std::string& s : store)
            ptrs.push_back(s.data());
        ptrs.push_back(nullptr);
    }
    char** argv() { return ptrs.data(); }
    TOpts opts() { return TOpts(argv(), static_cast<int>(store.size())); }

    std::vector<std::string> store;
    std::vector<char*> ptrs;  // set an entry to null for a damaged vector
};

// The what() of the TError that f throws, or "" when none.
template <class F> std::string error_of(F f)
{
    try {
        f();
    } catch (const TError& e) {
        return e.what();
    }
    return "";
}

}  // namespace zelto::opt
