#include "commands/list_dir.h"

#include "commands/checks.h"
#include "commands/output.h"
#include "commands/programs.h"
#include "opt/lookup.h"
#include "remote/session.h"

#include <cstdlib>

using zelto::opt::TOParsing;

namespace {

constexpr size_t kMaxEntries = 10000;

const char* type_name(const std::string& letter)
{
    return letter == "f" ? "file" : letter == "d" ? "dir" : letter == "l" ? "link" : "other";
}

}  // namespace

TListing parse_listing(const std::string& out, size_t max)
{
    TListing listing;
    for (size_t at = 0, end; (end = out.find('\0', at)) != std::string::npos; at = end + 1) {
        std::vector<std::string> parts;
        for (size_t from = at, slash; from <= end; from = slash + 1) {
            slash = std::min(out.find('/', from), end);
            parts.push_back(out.substr(from, slash - from));
        }
        if (parts.size() != 5)
            continue;
        const std::string seconds = parts[3].substr(0, parts[3].find('.'));
        if (parts[0].empty() || !whole_number_value(parts[2]) || !whole_number_value(seconds) ||
            parts[4].empty() || parts[4].size() > 4 ||
            parts[4].find_first_not_of("01234567") != std::string::npos)
            continue;
        if (listing.entries.size() == max) {
            listing.truncated = true;
            break;
        }
        listing.entries.push_back({parts[0], type_name(parts[1]), parts[2],
                                   std::to_string(*whole_number_value(seconds)),
                                   std::string(4 - parts[4].size(), '0') + parts[4]});
    }
    return listing;
}

bool list_dir(TOParsing parsing)
{
    const std::string dir = zelto::opt::value_of(parsing, "dir");
    chk_abs_path(dir, "dir");
    parsing.end();
    init_ssh_session();
    const TListing listing =
        parse_listing(run_program(programs::list_dir, {{"DIR", dir}}), kMaxEntries);
    TResult result;
    std::vector<std::vector<std::string>> rows;
    for (const TDirEntry& e : listing.entries) {
        rows.push_back({e.name, e.type, e.size, e.mtime, e.mode});
        result.text({TText::line(e.type), " ", TText::line(e.size), " ", TText::line(e.mtime), " ",
                     TText::line(e.mode), " ", TText::line(e.name), "\n"});
    }
    if (listing.truncated)
        result.text({"truncated\n"});
    report(result
               .objects("entries",
                        {{"name", TKind::text},
                         {"type", TKind::text},
                         {"size", TKind::number},
                         {"mtime", TKind::number},
                         {"mode", TKind::text}},
                        rows)
               .flag("truncated", listing.truncated));
    return true;
}
