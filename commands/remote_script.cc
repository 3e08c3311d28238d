#include "commands/remote_script.h"

#include "remote/error.h"
#include "remote/exec.h"
#include "remote/shell.h"

// A pid file can outlive its process and by now name another process of the
// account, so a process counts as the configuration's only while one of its
// arguments is the given file, by any spelling of the path (the same inode,
// or the same text should the file be gone).  Anything but digits is no pid.
const char* const ours_function = R"sh(
ours() {
	case $1 in
	''|*[!0-9]*) return 1 ;;
	esac
	tr '\000' '\n' 2>/dev/null <"/proc/$1/cmdline" | (
		while IFS= read -r arg; do
			{ [ "$arg" = "$2" ] || [ "$arg" -ef "$2" ]; } && exit 0
		done
		exit 1
	)
}
)sh";

namespace {

// write_new creates the file with O_EXCL (dd conv=excl): whatever the
// account plants at the name after the rm, a symlink or a pipe, makes the
// create fail instead of being followed or waited on.  The shell's own
// no-clobber create is no help there: dash opens an existing pipe for
// writing and waits for a reader.
//
// The lock is a directory whose owner file names its holder: a sleeping
// process the run kills when it lets go.  A lock whose holder is gone (its
// run was killed) is taken over at once, one without an owner file (its run
// killed between the two) once it has looked so for two seconds.
const char* const shared_functions = R"sh(
write_new() {
	rm -f "$1" 2>/dev/null
	dd of="$1" conv=excl status=none
}

lock() {
	waited=0 orphan=0
	until mkdir "$CFGDIR/.bf2ctl.lock" 2>/dev/null; do
		[ -d "$CFGDIR/.bf2ctl.lock" ] || return 0
		holder=
		[ -f "$CFGDIR/.bf2ctl.lock/owner" ] && read -r holder <"$CFGDIR/.bf2ctl.lock/owner"
		if [ -z "$holder" ]; then orphan=$((orphan + 1)); else orphan=0; fi
		if [ $orphan -gt 20 ] || { [ -n "$holder" ] && ! kill -0 "$holder" 2>/dev/null; }; then
			rm -rf "$CFGDIR/.bf2ctl.lock"
			continue
		fi
		waited=$((waited + 1))
		[ $waited -le 400 ] || return 1
		sleep 0.1
	done
	sleep 90 </dev/null >/dev/null 2>&1 &
	KEEPER=$!
	echo $KEEPER >"$CFGDIR/.bf2ctl.lock/owner"
}

unlock() {
	[ -n "$KEEPER" ] || return 0
	holder=
	[ -f "$CFGDIR/.bf2ctl.lock/owner" ] && read -r holder <"$CFGDIR/.bf2ctl.lock/owner"
	[ "$holder" = "$KEEPER" ] && rm -rf "$CFGDIR/.bf2ctl.lock"
	kill $KEEPER 2>/dev/null
	KEEPER=
}

fail() {
	[ -z "$KEEPER" ] || unlock
	printf '%s\n' "$*"
	exit 1
}
)sh";

}  // namespace

std::string sh_var(const std::string& name, const std::string& value)
{
    return name + "=" + shell_str(value) + "\n";
}

std::string script_text(const std::string& body, bool refuse_root)
{
    // The body is one group, read whole before it runs and given no input:
    // nothing in it can read the rest of the script as its input.
    return std::string(ours_function) + shared_functions + "KEEPER=\n{\n" +
           (refuse_root ? "[ \"$(id -u)\" != 0 ] || fail root\n" : "") + body + "\n} </dev/null\n";
}

TScriptResult run_script(const std::string& body, bool refuse_root)
{
    TExecResult r = ssh_exec("sh -s", script_text(body, refuse_root), false);
    TScriptResult result{r.status, r.out, "", r.err};
    if (r.status != 0) {
        std::string& out = result.out;
        if (!out.empty() && out.back() == '\n')
            out.pop_back();
        size_t nl = out.rfind('\n');
        result.step = out.substr(nl == std::string::npos ? 0 : nl + 1);
        out.erase(nl == std::string::npos ? 0 : nl + 1);
    }
    if (result.step == "root")
        throw TUError("Not for root: log in as the game server's account");
    return result;
}

void script_broke(const TScriptResult& r)
{
    throw TUError("Remote script failed with status " + std::to_string(r.status) + ": " +
                  (r.err.empty() ? r.step : r.err));
}
