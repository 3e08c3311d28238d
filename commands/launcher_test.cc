// The start script and the launcher under the local sh, for what the
// lifecycle tests over SSH do not reach: a server that cannot start, and a
// launch that never shows.
#include "commands/launcher.h"

#include "process.h"
#include "remote/shell.h"
#include "standin.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>

using namespace fixture;

TEST(StartScript, RemovesItsRunFilesWhenTheServerCannotStart)
{
    TTempDir d;
    const std::string cfg = d.path() + "/c d'x";
    must_sh("mkdir " + shell_str(cfg));
    write_file(cfg + "/start.sh", get_start_script(d.path() + "/gone", cfg));
    EXPECT_EQ(sh("sh " + shell_str(cfg + "/start.sh") + " 2>/dev/null", "", 30).status, 0);
    EXPECT_EQ(must_sh("ls -A " + shell_str(cfg)), "start.sh\n");
}

TEST(Launcher, GivesUpOnAProcessThatNeverShowsTheStartScript)
{
    TTempDir d;
    const std::string cfg = d.path() + "/c d'x", bin = d.path() + "/bin";
    const std::string pid_file = d.path() + "/nohup.pid";
    must_sh("mkdir " + shell_str(cfg) + " " + shell_str(bin) + " && touch " +
            shell_str(cfg + "/start.sh"));
    write_file(bin + "/nohup", "#!/bin/sh\necho $$ >" + shell_str(pid_file) + "; exec sleep 60\n");
    // Every process starts out with a command line that ends in the launched
    // name, even the fake nohup, and the launcher checks at once: a grep
    // blind to it makes the later checks decide.
    write_file(bin + "/grep",
               "#!/bin/sh\n[ \"$1\" = '.*start\\.sh.\\?$' ] && exit 1; exec /bin/grep \"$@\"\n");
    must_sh("chmod 755 " + shell_str(bin) + "/*");
    TProc r = run_process({"/bin/sh", "-c", get_launcher(cfg)},
                          {{"PATH", bin + ":" + std::getenv("PATH")}}, "", 60);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Timeout end\n");
    EXPECT_EQ(r.status, 1);
    long pid = read_pid(pid_file);
    ASSERT_TRUE(process_alive(pid));
    kill(static_cast<pid_t>(pid), SIGKILL);
}
