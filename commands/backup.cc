#include "commands/backup.h"

#include "commands/checks.h"
#include "commands/output.h"
#include "commands/programs.h"
#include "opt/lookup.h"
#include "remote/error.h"
#include "remote/session.h"

#include <ctime>
#include <map>
#include <sstream>

using zelto::opt::TOParsing;

namespace {

// A directory of these commands: absolute, on one line (names and the
// checksum file's record are lines), and clean.
std::string dir_value(TOParsing& parsing, const char* option, const char* what)
{
    const std::string given = zelto::opt::value_of(parsing, option);
    chk_abs_path(given, option);
    if (holds_line_break(given))
        throw TUError(TCode::usage, std::string(what) + " holds a line break").about(option);
    return clean_path(given);
}

// The "key: value" lines of a program's output, the first of each key.
std::map<std::string, std::string> keyed(const std::string& out)
{
    std::map<std::string, std::string> values;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const size_t colon = line.find(": ");
        if (colon != std::string::npos)
            values.emplace(line.substr(0, colon), line.substr(colon + 2));
    }
    return values;
}

}  // namespace

std::string clean_path(const std::string& path)
{
    std::string clean;
    size_t at = 0;
    while (at <= path.size()) {
        const size_t end = std::min(path.find('/', at), path.size());
        const std::string part = path.substr(at, end - at);
        if (!part.empty() && part != ".")
            clean += "/" + part;
        at = end + 1;
    }
    return clean.empty() ? "/" : clean;
}

bool lies_in(const std::string& inner, const std::string& outer)
{
    for (const std::string* p : {&inner, &outer})
        if (("/" + *p + "/").find("/../") != std::string::npos)
            return false;
    return inner == outer || outer == "/" || inner.starts_with(outer + "/");
}

std::vector<std::string> exclude_globs(const std::string& list)
{
    std::vector<std::string> globs;
    size_t at = 0;
    while (at <= list.size()) {
        const size_t end = std::min(list.find(',', at), list.size());
        std::string glob = list.substr(at, end - at);
        at = end + 1;
        while (glob.starts_with("/") || glob.starts_with("./"))
            glob.erase(0, glob[0] == '/' ? 1 : 2);
        while (glob.ends_with("/"))
            glob.pop_back();
        if (glob.empty() || holds_line_break(glob))
            return {};
        globs.push_back(glob);
    }
    return globs;
}

long long stamp_seconds(const std::string& stamp)
{
    std::tm tm{};
    const char* end = strptime(stamp.c_str(), "%Y%m%dT%H%M%SZ", &tm);
    if (stamp.size() != 16 || !end || *end)
        return -1;
    return timegm(&tm);
}

bool backup(TOParsing parsing)
{
    const std::string dir = dir_value(parsing, "dir", "Directory");
    const std::string bdir = dir_value(parsing, "backup-dir", "Backup directory");
    const long long keep = zelto::opt::number_or(parsing["keep"], 1000, 10);
    std::string excludes;
    auto exclude = parsing["exclude"];
    if (exclude.found) {
        const std::vector<std::string> globs = exclude_globs(exclude.entry->second.value);
        if (globs.empty())
            throw TOParsing::TBadLOpt(exclude.entry);
        for (const std::string& glob : globs)
            excludes += glob + "\n";
    }
    parsing.end();
    if (lies_in(bdir, dir))
        throw TUError(TCode::usage, "Backup directory must not be inside " + dir)
            .about("backup-dir");
    init_ssh_session();
    const auto out = keyed(run_program(
        programs::backup,
        {{"DIR", dir}, {"BDIR", bdir}, {"KEEP", std::to_string(keep)}, {"EXCLUDE", excludes}}));
    const std::string& name = out.at("backup");
    report(TResult()
               .field("name", name)
               .number("size", out.at("size"))
               .field("sha256", out.at("sha256"))
               .number("warnings", out.at("warnings"))
               .text({"backup: ", TText::line(name), "\nsize: ", TText::line(out.at("size")),
                      "\nsha256: ", TText::line(out.at("sha256")),
                      "\nwarnings: ", TText::line(out.at("warnings")), "\n"}));
    return true;
}

bool list_backups(TOParsing parsing)
{
    const std::string bdir = dir_value(parsing, "backup-dir", "Backup directory");
    parsing.end();
    init_ssh_session();
    std::string out = run_program(programs::list_backups, {{"BDIR", bdir}});
    // An output cut at its cap ends inside a record: that one is not whole.
    out.erase(out.find_last_of('\n') + 1);
    TResult result;
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(out);
    std::map<std::string, std::string> entry;
    for (std::string line; std::getline(lines, line);) {
        const size_t colon = line.find(": ");
        entry[line.substr(0, std::min(colon, line.size()))] =
            colon == std::string::npos ? "" : line.substr(colon + 2);
        if (!line.starts_with("dir:"))
            continue;
        rows.push_back({entry["name"], entry["size"], entry["sha256"], entry["dir"],
                        std::to_string(stamp_seconds(entry["stamp"]))});
        result.text({"backup: ", TText::line(entry["name"]), " size: ", TText::line(entry["size"]),
                     " sha256: ", TText::line(entry["sha256"]), " dir: ", TText::line(entry["dir"]),
                     "\n"});
        entry.clear();
    }
    report(result.objects("backups",
                          {{"name", TKind::text},
                           {"size", TKind::number},
                           {"sha256", TKind::text},
                           {"dir", TKind::text},
                           {"time", TKind::number}},
                          rows));
    return true;
}

bool restore(TOParsing parsing)
{
    const std::string dir = dir_value(parsing, "dir", "Directory");
    const std::string bdir = dir_value(parsing, "backup-dir", "Backup directory");
    const std::string name = zelto::opt::value_of(parsing, "archive");
    parsing.end();
    if (dir == "/")
        throw TUError(TCode::usage, "Directory must not be /").about("dir");
    // Its backups would move into DIR.before-restore, which the next restore removes.
    if (lies_in(bdir, dir))
        throw TUError(TCode::usage, "Backup directory must not be inside " + dir)
            .about("backup-dir");
    init_ssh_session();
    run_program(programs::restore, {{"DIR", dir}, {"BDIR", bdir}, {"NAME", name}});
    return true;
}
