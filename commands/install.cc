#include "commands/install.h"

#include "commands/checks.h"
#include "commands/output.h"
#include "commands/remote_script.h"
#include "commands/sh_scripts.h"
#include "opt/lookup.h"
#include "remote/error.h"
#include "remote/exec.h"
#include "remote/session.h"

#include <algorithm>
#include <cctype>

bool check_bf2_dir(const std::string& dir)
{
    chk_abs_path(dir);
    TExecResult r = ssh_exec("/bin/sh -s", script_text(sh_var("DIR", dir) + sh_check_install, false), false);
    if (r.status != 0)
        throw TUError(TCode::remote, "BF2 files check failed: " + r.err, "check-install");
    return r.out == "ok\n" || r.out == "ok";
}

bool install(zelto::opt::TOParsing parsing)
{
    // A URL may carry a token: it may come from the environment instead.
    std::string url = zelto::opt::value_or_env(parsing, "url", zelto::opt::req_arg, "BF2_INSTALL_URL");
    std::string dir = zelto::opt::value_of(parsing, "dir");
    // The package's digest, checked before anything of it is unpacked.
    std::string sha256;
    auto digest = parsing["sha256"];
    if (digest.found)
        sha256 = digest.entry->second.value;
    parsing.end();
    if (digest.found && (sha256.size() != 64 || sha256.find_first_not_of("0123456789abcdefABCDEF") !=
                                                    std::string::npos))
        throw zelto::opt::TOParsing::TBadLOpt(digest.entry);
    std::transform(sha256.begin(), sha256.end(), sha256.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    // The result is one line, and so is each line of the install script.
    if (holds_line_break(url))
        throw TUError(TCode::usage, "URL holds a line break");
    if (holds_line_break(dir))
        throw TUError(TCode::usage, "Install directory holds a line break");
    init_ssh_session();
    chk_abs_path(dir);

    const std::string temp_dir = run_script(
        sh_var("DIR", dir) + sh_var("HEAD", "#!/bin/sh\n\nURL=" + shell_str(url) + "\nSHA256=" + (sha256.empty() ? std::string() : sha256) + "\nDIR=") +
            sh_var("BODY", std::string(sh_lib) + sh_ours + sh_install_script) + sh_launch_install,
        true,
        {
            {"running", "Server running from " + dir + "/bf2: stop it first", "", false, TCode::busy},
            {"busy", "Install already running in " + dir, "", false, TCode::busy},
            {"mktemp", "Make temporary directory in '" + dir + "' failed", "", true},
            {"copy", "Copy install script failed", "", true},
            {"start", "Run install script failed", "", true},
        });
    report(
        TResult().field("temp_dir", temp_dir).text({"temp dir: '", TText::line(temp_dir), "'\n"}));
    return true;
}

bool install_status(zelto::opt::TOParsing parsing)
{
    std::string dir = zelto::opt::value_of(parsing, "dir");
    parsing.end();
    chk_abs_path(dir);
    init_ssh_session();
    // As root, a log the account made a symlink would print any file of the host.
    // The status and log lines are the account's text.
    const std::string state = run_script(
        sh_var("T", dir) + sh_install_state, true,
        {{"no-install", "Not an install directory (no install.sh): " + dir, "", false}});
    report(TResult()
               .report_fields(state,
                              {{"bytes", "bytes"},
                               {"total", "total_bytes"},
                               {"stage", "stage", TKind::text},
                               {"status", "status"}},
                              "log")
               .text({TText::lines(state)}));
    return true;
}

bool check_install(zelto::opt::TOParsing parsing)
{
    std::string dir = zelto::opt::value_of(parsing, "dir");
    parsing.end();
    init_ssh_session();
    const bool installed = check_bf2_dir(dir);
    report(TResult()
               .flag("installed", installed)
               .text({installed ? TText("ok\n") : TText("failed\n")}));
    return true;
}
