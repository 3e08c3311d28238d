// The settings rewrite command line, run under the local sh (dash) on real
// files: the file is checked byte for byte after each run.
#include "commands/settings.h"

#include "driver/tuerror.h"
#include "remote/shell.h"
#include "tests/process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace fixture;

namespace {

struct TCfg {
    TTempDir dir;
    std::string file = dir.path() + "/s.con";

    TProc set(const std::string& key, const std::string& value, bool quote,
              const std::string& prefix = "")
    {
        return sh(prefix + set_cfg_command(file, key, value, quote));
    }
    // Sets and expects success with nothing on either stream.
    void ok(const std::string& key, const std::string& value, bool quote)
    {
        TProc r = set(key, value, quote);
        EXPECT_EQ(r.status, 0) << key << " = " << value;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
    }
    bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }
};

std::string refusal(const std::string& key, const std::string& value)
{
    try {
        set_cfg_option("/c/s.con", key, value, true);
    } catch (const TUError& e) {
        return e.message;
    }
    return "no error";
}

}  // namespace

TEST(SetCfg, WorkedExampleCommandAndEffect)
{
    EXPECT_EQ(
        set_cfg_command("/c/s.con", "sv.maxPlayers", "16", false),
        "append_setting() { printf '\\n%s %s\\n' 'sv.maxPlayers' '16' >>'/c/s.con'; }; "
        "if LC_ALL=C grep -e '^[[:space:]]*sv.maxPlayers[[:space:]]' '/c/s.con' >/dev/null 2>&1 "
        "&& cp -f '/c/s.con' '/c/s.con.pre'; then if LC_ALL=C sed -e "
        "'s/^\\([[:space:]]*sv.maxPlayers[[:space:]]\\).*/\\116/' '/c/s.con.pre' >'/c/s.con'; "
        "then rm -f '/c/s.con.pre' || append_setting; else cat '/c/s.con.pre' >'/c/s.con' "
        "&& append_setting; fi; else append_setting; fi");

    TCfg c;
    write_file(c.file, "# settings\n  sv.maxPlayers 32\nsv.serverName \"Old\"\n");
    c.ok("sv.maxPlayers", "16", false);
    c.ok("sv.serverName", "My server", true);
    EXPECT_EQ(read_file(c.file), "# settings\n  sv.maxPlayers 16\nsv.serverName \"My server\"\n");
    EXPECT_FALSE(c.exists(c.file + ".pre"));
}

TEST(SetCfg, RewritesEveryMatchingLineAndNothingElse)
{
    TCfg c;
    write_file(c.file,
               "rem sv.password \"x\"\n"
               "sv.password \"a\"\n"
               "\t  sv.password\t\"b\" trailing text\n"
               "sv.passwordX \"keep\"\n"
               "sv.password\n"
               "svXpassword 7\n"
               "\n"
               "sv.maxPlayers 32\n");
    c.ok("sv.password", "new", true);
    // The "." in a key still matches any character (svXpassword).
    EXPECT_EQ(read_file(c.file),
              "rem sv.password \"x\"\n"
              "sv.password \"new\"\n"
              "\t  sv.password\t\"new\"\n"
              "sv.passwordX \"keep\"\n"
              "sv.password\n"
              "svXpassword \"new\"\n"
              "\n"
              "sv.maxPlayers 32\n");
}

TEST(SetCfg, AppendsWhenTheKeyIsMissing)
{
    TCfg c;
    // A key alone on its line has no separator and does not match.
    write_file(c.file, "sv.internet 1\nsv.password");
    c.ok("sv.password", "", true);
    c.ok("sv.timeLimit", "", false);
    EXPECT_EQ(read_file(c.file),
              "sv.internet 1\nsv.password\nsv.password \"\"\n\nsv.timeLimit \n");

    TCfg missing;
    missing.ok("sv.serverPort", "16567", false);
    EXPECT_EQ(read_file(missing.file), "\nsv.serverPort 16567\n");
}

TEST(SetCfg, ValuesReachTheFileExactly)
{
    const std::string nasty = "a/b & c\\d 'e' \"f\" $HOME * %s \\n\\c\\0101 `id` ~!";
    TCfg c;
    write_file(c.file, "first 1\nsv.serverName \"old\"\nsv.password x\nlast 2\n");
    c.ok("sv.serverName", nasty, true);
    c.ok("sv.password", nasty, false);
    c.ok("sv.adminName", nasty, true);
    c.ok("sv.motd", nasty, false);
    EXPECT_EQ(read_file(c.file), "first 1\nsv.serverName \"" + nasty + "\"\nsv.password " + nasty +
                                     "\nlast 2\n\nsv.adminName \"" + nasty + "\"\n\nsv.motd " +
                                     nasty + "\n");

    // Rewriting a line that already holds such a value replaces all of it.
    c.ok("sv.password", "plain", false);
    EXPECT_EQ(read_file(c.file), "first 1\nsv.serverName \"" + nasty +
                                     "\"\nsv.password plain\nlast 2\n\nsv.adminName \"" + nasty +
                                     "\"\n\nsv.motd " + nasty + "\n");
}

TEST(SetCfg, OldValueBytesOutsideUtf8AreReplacedWhole)
{
    TCfg c;
    write_file(c.file, "sv.serverName \"Caf\xe9 \xff\"\nnext \xe9\n");
    TProc r = c.set("sv.serverName", "New", true, "LC_ALL=C.UTF-8; export LC_ALL; ");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(c.file), "sv.serverName \"New\"\nnext \xe9\n");
}

TEST(SetCfg, KeysWithPatternCharactersCannotBreakTheScript)
{
    TCfg c;
    write_file(c.file, "a/b 1\nk[1] 2\nx\\y 3\np*q 4\npq 5\n^$ 6\nkeep 7\n");
    c.ok("a/b", "v/1", false);
    c.ok("k[1]", "v2", false);
    c.ok("x\\y", "v3", false);
    c.ok("p*q", "v4", false);
    c.ok("^$", "v6", false);
    EXPECT_EQ(read_file(c.file), "a/b v/1\nk[1] v2\nx\\y v3\np*q v4\npq 5\n^$ v6\nkeep 7\n");
}

TEST(SetCfg, LineBreaksAreRefusedBeforeAnythingRuns)
{
    // No session is open: reaching the remote side would fail differently.
    EXPECT_EQ(refusal("sv.serverName", "one\ntwo"),
              "Set option 'sv.serverName' failed in /c/s.con: value holds a line break");
    EXPECT_EQ(refusal("sv.serverName", "one\rtwo"),
              "Set option 'sv.serverName' failed in /c/s.con: value holds a line break");
    EXPECT_EQ(refusal("sv.a\nb", "v"),
              "Set option 'sv.a\nb' failed in /c/s.con: key holds a line break");
}

TEST(SetCfg, FailedSedIsUndoneBeforeTheAppend)
{
    const std::string original = "first 1\nsv.maxPlayers 32\nlast 2";
    TCfg c;
    TTempDir bin;
    write_file(bin.path() + "/sed", "#!/bin/sh\necho 'sed: broken' >&2\nexit 4\n");
    write_file(bin.path() + "/cat", "#!/bin/sh\necho 'cat: broken' >&2\nexit 5\n");
    chmod((bin.path() + "/sed").c_str(), 0755);
    chmod((bin.path() + "/cat").c_str(), 0755);

    // Only sed fails: its redirection has emptied the file; the backup puts
    // every line back and the setting is appended.
    write_file(c.file, original);
    write_file(bin.path() + "/cat", "#!/bin/sh\nexec /bin/cat \"$@\"\n");
    TProc r = c.set("sv.maxPlayers", "16", false, "PATH=" + bin.path() + ":$PATH; ");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "sed: broken\n");
    EXPECT_EQ(read_file(c.file), original + "\nsv.maxPlayers 16\n");
    EXPECT_EQ(read_file(c.file + ".pre"), original);

    // The restore fails too: nothing is appended to the emptied file, the
    // backup keeps every line and the call reports the failure.
    write_file(c.file, original);
    write_file(bin.path() + "/cat", "#!/bin/sh\necho 'cat: broken' >&2\nexit 5\n");
    r = c.set("sv.maxPlayers", "16", false, "PATH=" + bin.path() + ":$PATH; ");
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, "sed: broken\ncat: broken\n");
    EXPECT_EQ(read_file(c.file), "");
    EXPECT_EQ(read_file(c.file + ".pre"), original);
}

TEST(SetCfg, UnwritablePlacesAsAnOrdinaryAccount)
{
    // As root every file is writable; the remote account is not root.
    auto as_nobody = [](const std::string& cmd) {
        return sh("exec setpriv --reuid=nobody --regid=nogroup --clear-groups /bin/sh -c " +
                  shell_str(cmd));
    };
    TCfg c;
    write_file(c.file, "sv.maxPlayers 32\nlast 2\n");
    chmod(c.file.c_str(), 0666);

    // The directory refuses the backup: the setting is appended instead.
    chmod(c.dir.path().c_str(), 0755);
    TProc r = as_nobody(set_cfg_command(c.file, "sv.maxPlayers", "16", false));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "cp: cannot create regular file '" + c.file + ".pre': Permission denied\n");
    EXPECT_EQ(read_file(c.file), "sv.maxPlayers 32\nlast 2\n\nsv.maxPlayers 16\n");

    // A read-only file stays as it was and the failure is reported.
    write_file(c.file, "sv.maxPlayers 32\nlast 2\n");
    chmod(c.file.c_str(), 0444);
    chmod(c.dir.path().c_str(), 0777);
    r = as_nobody(set_cfg_command(c.file, "sv.maxPlayers", "16", false));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "/bin/sh: 1: cannot create " + c.file + ": Permission denied\n"
                     "/bin/sh: 1: cannot create " + c.file + ": Permission denied\n");
    EXPECT_EQ(read_file(c.file), "sv.maxPlayers 32\nlast 2\n");

    // A missing directory: the append cannot create the file.
    TProc m = sh(set_cfg_command(c.dir.path() + "/none/s.con", "sv.maxPlayers", "16", false));
    EXPECT_EQ(m.status, 2);
    EXPECT_EQ(m.err, "/bin/sh: 1: cannot create " + c.dir.path() + "/none/s.con: Directory nonexistent\n");
}
