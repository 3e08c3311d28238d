#include "commands/copy_file.h"

#include "commands/programs.h"
#include "opt/lookup.h"
#include "remote/error.h"
#include "remote/session.h"
#include "remote/upload.h"

#include <cstdlib>

namespace {

// From this size up the file goes as byte ranges over several channels,
// each with a window of its own: at a distance one channel carries one
// window per round trip.  The further channels, started one after another,
// and the wait for the upload directory's name cost a few round trips,
// which a smaller file does not win back (measured at a 100 ms round trip:
// 16 MiB took 0.2-0.4 s longer, 32 MiB as long with a 3 MiB TCP window and
// 17% less with 16 MiB, 64 MiB half the time).
constexpr off_t kRangedFrom = 32 << 20;
constexpr size_t kChannels = 4;

bool ranged_copy(const TLocalFile& file, const std::string& to)
{
    TRangedUpload upload = ranged_upload(file, kChannels, [&](size_t i, off_t offset, off_t count) {
        const TCommandLine c =
            i == 0 ? program_command(programs::upload_lead, {{"TO", to},
                                                             {"COUNT", std::to_string(count)},
                                                             {"SIZE", std::to_string(file.size())}})
                   : program_command(programs::upload_range, {{"TO", to},
                                                              {"OFFSET", std::to_string(offset)},
                                                              {"COUNT", std::to_string(count)}});
        return std::pair{c.line, c.input};
    });
    if (upload.failed < 0)
        return true;
    throw_step_failure(upload.failed == 0 ? programs::upload_lead : programs::upload_range,
                       upload.runs[upload.failed], {{"cut", "Failed to copy content"}});
}

}  // namespace

bool copy_file(zelto::opt::TOParsing parsing)
{
    const std::string from = zelto::opt::value_of(parsing, "from");
    const std::string to = zelto::opt::value_of(parsing, "to");
    parsing.end();
    TLocalFile file(from);
    init_ssh_session();
    // BF2_BENCH_ONE_CHANNEL is read for the benchmark alone, which weighs
    // the ranges against one channel in the same run.
    if (file.size() >= kRangedFrom && !std::getenv("BF2_BENCH_ONE_CHANNEL"))
        return ranged_copy(file, to);

    // One channel: sh/upload.sh makes the upload's directory, hands the
    // rest of its input to scp and renames the file over the target.
    const TCommandLine upload_line = program_command(programs::upload, {{"TO", to}});
    TUpload upload = scp_upload(file, upload_line.line, upload_line.input);
    if (!upload.refusal.empty())
        throw_step(programs::upload, "scp", {{"cut", "Failed to copy content"}}, upload.refusal);
    if (upload.run.status == 0 && upload.accepted == 3)
        return true;
    // scp that ended without a word: before it took the file, the upload
    // never began; after, it was cut short.
    const std::string cut =
        upload.accepted == 0 ? "Unable to open the scp channel" : "Failed to copy content";
    if (upload.run.status == 0)
        throw_step(programs::upload, "scp", {{"cut", cut}}, upload.run.out);
    throw_step_failure(programs::upload, upload.run, {{"cut", cut}});
}
