#include "commands/launcher.h"

#include "driver/tuerror.h"
#include "remote/exec.h"
#include "remote/shell.h"

#include <string>

std::string get_start_script(const std::string& srv_dir, const std::string& cfg_dir)
{
    return "#!/bin/sh\nSRVDIR=" + shell_str(srv_dir) + "\nCFGDIR=" + shell_str(cfg_dir) + R"sh(
echo $$ > "$CFGDIR/start.pid" && cd "$SRVDIR" && rm -f "$CFGDIR/server-stdin" && mkfifo "$CFGDIR/server-stdin" && { cat >"$CFGDIR/server-stdin" & } && FCATPID=$! && { ./start.sh +statusMonitor 1 +config "$CFGDIR/settings/serversettings.con" +mapList "$CFGDIR/settings/maplist.con" <"$CFGDIR/server-stdin" >/dev/null 2>>"$CFGDIR/srderr.log" & } && SRVPID=$! && trap "kill $SRVPID" 1 2 15 && echo $SRVPID > "$CFGDIR/server.pid" && wait $SRVPID

kill $FCATPID 2>/dev/null
rm -f "$CFGDIR/server.pid" "$CFGDIR/server-stdin" "$CFGDIR/start.pid" 2>/dev/null
)sh";
}

// The first check already matches nohup's own command line, so the launcher
// may end, and the terminal close, before nohup has begun to ignore the
// hang-up: ignoring it here first covers nohup from its very start (an
// ignored signal stays ignored across exec).  A start script that ends at
// once may vanish between the two checks of a round: cat keeps quiet about
// it, so that the reason read is "Process dead" alone.
std::string get_launcher(const std::string& cfg_dir)
{
    const std::string q = shell_str(cfg_dir);
    return "chmod 750 " + q + "/start.sh || exit 1\ntrap '' 1\nnohup " + q +
           R"sh(/start.sh </dev/null >/dev/null 2>&1 &
PID=`echo $!`
for s in 1 1 2 2 5 5; do
[ ! -d /proc/$PID ] && echo 'Process dead' 1>&2 && exit 1
cat /proc/$PID/cmdline 2>/dev/null | grep '.*start\.sh.\?$' >/dev/null 2>&1 && exit 0 || sleep $s
done
echo 'Timeout end' 1>&2
exit 1
)sh";
}

void start_srv(const std::string& srv_dir, const std::string& cfg_dir)
{
    const std::string q = shell_str(cfg_dir);
    TExecResult r = ssh_exec("cat >" + q + "/start.sh", get_start_script(srv_dir, cfg_dir), false);
    if (r.status != 0)
        throw TUError("Copy start script failed: " + r.err);
    // Under the terminal the reason lines arrive in the output, ending in
    // "\r\n", and the error text stays empty.
    r = ssh_exec(get_launcher(cfg_dir), "", true);
    if (r.status != 0) {
        std::string reason = r.err;
        if (reason.empty()) {
            reason = r.out;
            std::erase(reason, '\r');
        }
        throw TUError("Start server failed: " + reason);
    }
}
