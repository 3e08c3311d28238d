#include "commands/copy_file.h"

#include "commands/remote_script.h"
#include "remote/error.h"
#include "opt/lookup.h"
#include "remote/session.h"
#include "remote/upload.h"

namespace {

// The upload goes to a fresh private directory beside the target, on the
// same file system, and is renamed over the target only once the remote
// side has the whole file: the target is always the old or the whole new
// file, and a symlink or pipe at its name is replaced, never written
// through.
const char* const make_upload_dir = R"sh(
if [ -d "$TO" ]; then
	echo "$TO: Is a directory" >&2
	fail target
fi
mktemp -d "$(dirname -- "$TO")/.bf2ctl-upload.XXXXXX" || fail target
)sh";

// -T: a symlink to a directory planted at the target is replaced, not
// followed, as the rename replaces whatever else stands there.
const char* const replace_target = R"sh(
mv -f -T "$UPLOAD/file" "$TO" || fail rename
rmdir "$UPLOAD"
)sh";

}  // namespace

bool copy_file(zelto::opt::TOParsing parsing)
{
    const std::string from = zelto::opt::value_of(parsing, "from");
    const std::string to = zelto::opt::value_of(parsing, "to");
    parsing.end();
    TLocalFile file(from);
    init_ssh_session();

    TScriptResult made = run_script(sh_var("TO", to) + make_upload_dir, true);
    if (made.status != 0)
        throw TUError("Unable to open the scp channel: " + made.err);
    // mktemp's one line; a directory name may hold line breaks of its own.
    std::string upload_dir = made.out;
    if (!upload_dir.empty() && upload_dir.back() == '\n')
        upload_dir.pop_back();
    try {
        scp_upload(file, upload_dir + "/file");
    } catch (const TUError&) {
        try {
            run_script(sh_var("UPLOAD", upload_dir) + "rm -rf \"$UPLOAD\"", false);
        } catch (const TUError&) {
            // The upload's own error is the one to report.
        }
        throw;
    }
    TScriptResult moved =
        run_script(sh_var("TO", to) + sh_var("UPLOAD", upload_dir) + replace_target, false);
    if (moved.status != 0)
        throw TUError("Failed to copy content: " + moved.err);
    return true;
}
