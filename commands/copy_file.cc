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

    // The ends of the upload are sh/upload.sh; the file goes in between.
    std::string upload_dir =
        run_script(sh_var("TO", to) + sh_upload + "make_upload_dir", true,
                   {{"target", "Unable to open the scp channel", "", true}});
    // mktemp's one line; a directory name may hold line breaks of its own.
    if (!upload_dir.empty() && upload_dir.back() == '\n')
        upload_dir.pop_back();
    try {
        scp_upload(file, upload_dir + "/file");
    } catch (const TUError&) {
        try {
            run_script(sh_var("UPLOAD", upload_dir) + "rm -rf \"$UPLOAD\"", false, {});
        } catch (const TUError&) {
            // The upload's own error is the one to report.
        }
        throw;
    }
    run_script(sh_var("TO", to) + sh_var("UPLOAD", upload_dir) + sh_upload + "replace_target", false,
               {{"rename", "Failed to copy content", "", true}});
    return true;
}
