#include "commands/host.h"

#include "commands/output.h"
#include "commands/printable.h"
#include "commands/programs.h"
#include "remote/error.h"
#include "opt/lookup.h"
#include "remote/exec.h"
#include "remote/session.h"

namespace {

bool contains(const std::string& text, const char* what)
{
    return text.find(what) != std::string::npos;
}

}  // namespace

bool check_host(zelto::opt::TOParsing parsing)
{
    parsing.end();
    init_ssh_session();
    TExecResult r = run_program_result(programs::host_kind, {});
    bool x86 = contains(r.out, "i586") || contains(r.out, "i686") || contains(r.out, "x86_64");
    const bool suitable = r.status == 0 && contains(r.out, "Linux") && x86;
    const std::string uname = r.out.ends_with('\n') ? r.out.substr(0, r.out.size() - 1) : r.out;
    result_flag("suitable", suitable);
    result_field("uname", uname);
    // The host's text may hold a line of its own ("suitable") or a
    // terminal's control sequences.
    print(suitable ? "suitable\n" : "unsuitable\nuname: " + printable_line(uname) + "\n");
    return true;
}

bool check_on_root(zelto::opt::TOParsing parsing)
{
    parsing.end();
    init_ssh_session();
    TExecResult r = run_program_result(programs::login_uid, {});
    if (r.status != 0)
        throw_step(programs::login_uid, "id", {}, r.err);
    const bool root = r.out == "0\n" || r.out == "0";
    result_flag("root", root);
    print(root ? "root\n" : "not root\n");
    return true;
}

bool fingerprint(zelto::opt::TOParsing parsing)
{
    parsing.end();
    init_ssh_handshake();
    const std::string key = host_key_fingerprint();
    result_field("fingerprint", key);
    print(key + "\n");
    return true;
}
