#include "commands/copy_file.h"

#include "commands/remote_script.h"
#include "commands/sh_scripts.h"
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
    const std::string script = script_text(sh_var("TO", to) + sh_upload + "upload_file", true, true);
    TUpload upload = scp_upload(file, script_reader(script), reader_input(script));
    if (!upload.refusal.empty())
        throw TUError(TCode::remote, "Failed to copy content: " + upload.refusal, "scp");
    if (upload.run.status == 0 && upload.accepted == 3)
        return true;
    // scp that ended without a word: before it took the file, the upload
    // never began; after, it was cut short.
    const std::string cut = upload.accepted == 0 ? "Unable to open the scp channel" : "Failed to copy content";
    if (upload.run.status == 0)
        throw TUError(TCode::remote, cut + ": " + upload.run.out, "scp");
    throw_step_failure(upload.run, {{"target", "Unable to open the scp channel", "", true},
                                    {"scp", cut, "", true},
                                    {"rename", "Failed to copy content", "", true}});
}
