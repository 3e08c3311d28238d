#include "commands/host.h"

#include "commands/output.h"
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
    TResult result;
    result.flag("suitable", suitable).field("uname", uname);
    if (suitable)
        result.text({"suitable\n"});
    else
        result.text({"unsuitable\nuname: ", TText::line(uname), "\n"});
    report(result);
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
    report(TResult().flag("root", root).text({root ? TText("root\n") : TText("not root\n")}));
    return true;
}

bool fingerprint(zelto::opt::TOParsing parsing)
{
    parsing.end();
    init_ssh_handshake();
    const std::string key = host_key_fingerprint();
    report(TResult().field("fingerprint", key).text({TText::line(key), "\n"}));
    return true;
}
