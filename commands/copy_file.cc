#include "commands/copy_file.h"

#include "commands/programs.h"
#include "opt/lookup.h"
#include "remote/error.h"
#include "remote/session.h"
#include "remote/upload.h"

bool copy_file(zelto::opt::TOParsing parsing)
{
    const std::string from = zelto::opt::value_of(parsing, "from");
    const std::string to = zelto::opt::value_of(parsing, "to");
    parsing.end();
    TLocalFile file(from);
    init_ssh_session();

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
