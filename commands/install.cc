#include "commands/install.h"

#include "commands/checks.h"
#include "commands/output.h"
#include "commands/programs.h"
#include "commands/secrets.h"
#include "opt/lookup.h"
#include "remote/error.h"
#include "remote/exec.h"
#include "remote/session.h"

#include <algorithm>
#include <cctype>

bool check_bf2_dir(const std::string& dir)
{
    chk_abs_path(dir, "dir");
    TExecResult r = run_program_result(programs::check_install, {{"DIR", dir}});
    if (r.status != 0)
        throw_step(programs::check_install, "check-install", {}, r.err);
    return r.out == "ok\n" || r.out == "ok";
}

bool install(zelto::opt::TOParsing parsing)
{
    // A URL may carry a token: it may come from the environment instead.
    std::string url =
        zelto::opt::value_or(parsing, "url", zelto::opt::req_arg, secret("BF2_INSTALL_URL"));
    std::string dir = zelto::opt::value_of(parsing, "dir");
    // The package's digest, checked before anything of it is unpacked.
    std::string sha256;
    auto digest = parsing["sha256"];
    if (digest.found)
        sha256 = digest.entry->second.value;
    parsing.end();
    if (digest.found && (sha256.size() != 64 ||
                         sha256.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos))
        throw zelto::opt::TOParsing::TBadLOpt(digest.entry);
    std::transform(sha256.begin(), sha256.end(), sha256.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    // The result is one line, and so is each line of the install script.
    if (holds_line_break(url))
        throw TUError(TCode::usage, "URL holds a line break").about("url");
    if (holds_line_break(dir))
        throw TUError(TCode::usage, "Install directory holds a line break").about("dir");
    init_ssh_session();
    chk_abs_path(dir, "dir");

    const std::string script =
        program_text(programs::install_script, {{"URL", url}, {"SHA256", sha256}});
    const std::string temp_dir =
        run_program(programs::launch_install, {{"DIR", dir}, {"SCRIPT", script}});
    report(
        TResult().field("temp_dir", temp_dir).text({"temp dir: '", TText::line(temp_dir), "'\n"}));
    return true;
}

std::string hide_url_secrets(const std::string& text)
{
    std::string out;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find_first_of(" \t\n", at), text.size());
        std::string word = text.substr(at, end - at);
        const size_t scheme = word.find("://");
        if (scheme != std::string::npos) {
            // Up to the word's last @: a password may hold / ? # unescaped, and
            // wget logs such a URL as it was given, or parsed with the
            // password in the path ("user:pw@h" becomes "ftp://user/pw@h").
            const size_t host = scheme + 3;
            const size_t user_end = word.rfind('@');
            if (user_end != std::string::npos && user_end >= host)
                word.replace(host, user_end - host, "…");
        }
        const size_t query = word.find('?');
        if (query != std::string::npos && query + 1 < word.size())
            word.replace(query + 1, std::string::npos, "…");
        out += word;
        if (end < text.size())
            out += text[end];
        at = end + 1;
    }
    return out;
}

bool install_status(zelto::opt::TOParsing parsing)
{
    std::string dir = zelto::opt::value_of(parsing, "dir");
    parsing.end();
    chk_abs_path(dir, "dir");
    init_ssh_session();
    // As root, a log the account made a symlink would print any file of the host.
    // The status and log lines are the account's text.
    const std::string state = hide_url_secrets(run_program(programs::install_state, {{"T", dir}}));
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

bool install_cancel(zelto::opt::TOParsing parsing)
{
    const std::string dir = zelto::opt::value_of(parsing, "dir");
    parsing.end();
    chk_abs_path(dir, "dir");
    init_ssh_session();
    run_program(programs::install_cancel, {{"T", dir}});
    return true;
}
