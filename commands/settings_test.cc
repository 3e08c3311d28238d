// The settings rewrite command line, run under the local sh (dash) on real
// files: the file is checked byte for byte after each run.
#include "commands/settings.h"

#include "driver/tuerror.h"
#include "remote/shell.h"
#include "tests/process.h"

#include <gtest/gtest.h>

using namespace fixture;

namespace {

// Printf formats, echo escapes, sed and shell specials.
const std::string nasty = "a/b & c\\d 'e' \"f\" $HOME * %s \\n\\c\\0101 `id` ~!";

struct TCfg {
    TTempDir dir;
    std::string file = dir.path() + "/s.con";

    // A UTF-8 locale: old values whose bytes are not UTF-8 must still go whole.
    TProc set(const std::string& key, const std::string& value, bool quote,
              const std::string& prefix = "")
    {
        return sh("export LC_ALL=C.UTF-8; " + prefix + set_cfg_command(file, key, value, quote));
    }
    void ok(const std::string& key, const std::string& value, bool quote)
    {
        TProc r = set(key, value, quote);  // status 0, nothing on either stream
        EXPECT_EQ(r.out + r.err + std::to_string(r.status), "0") << key << " = " << value;
    }
};

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
    c.ok("sv.maxPlayers", "16", false);  // a missing file is created
    EXPECT_EQ(read_file(c.file), "\nsv.maxPlayers 16\n");
    write_file(c.file, "# settings\n  sv.maxPlayers 32\nsv.serverName \"Old\"\n");
    c.ok("sv.maxPlayers", "16", false);
    EXPECT_EQ(read_file(c.file), "# settings\n  sv.maxPlayers 16\nsv.serverName \"Old\"\n");
    EXPECT_NE(sh("test -e " + shell_str(c.file + ".pre")).status, 0);
}

TEST(SetCfg, RewritesEveryMatchingLineOrAppends)
{
    TCfg c;
    write_file(c.file, "rem sv.password \"x\"\nsv.password \"a\"\n"
                       "\t  sv.password\t\"b\xff\" trailing \xe9\nsv.passwordX \"keep\"\n"
                       "svXpassword 7\n\nsv.motd old\nsv.timeLimit");
    c.ok("sv.password", nasty, true);
    c.ok("sv.motd", nasty, false);
    // A key alone on its line has no separator: appended, as are missing keys.
    c.ok("sv.timeLimit", "", false);
    c.ok("sv.ranked", "", true);
    c.ok("sv.adminName", nasty, true);
    c.ok("sv.welcome", nasty, false);
    // "." in a key matches any character (svXpassword).
    EXPECT_EQ(read_file(c.file), "rem sv.password \"x\"\nsv.password \"" + nasty + "\"\n"
                                 "\t  sv.password\t\"" + nasty + "\"\nsv.passwordX \"keep\"\n"
                                 "svXpassword \"" + nasty + "\"\n\nsv.motd " + nasty + "\n"
                                 "sv.timeLimit\nsv.timeLimit \n\nsv.ranked \"\"\n"
                                 "\nsv.adminName \"" + nasty + "\"\n\nsv.welcome " + nasty + "\n");
}

TEST(SetCfg, KeysWithPatternCharactersCannotBreakTheScript)
{
    TCfg c;
    write_file(c.file, "a/b 1\nk[1] 2\nx\\y 3\np*q 4\npq 5\n^$ 6\nkeep 7\n");
    for (const char* key : {"a/b", "k[1]", "x\\y", "p*q", "^$"})
        c.ok(key, "v/1", false);
    EXPECT_EQ(read_file(c.file), "a/b v/1\nk[1] v/1\nx\\y v/1\np*q v/1\npq 5\n^$ v/1\nkeep 7\n");
}

TEST(SetCfg, LineBreaksAreRefusedBeforeAnythingRuns)
{
    const std::string cases[][3] = {
        {"sv.name", "one\ntwo", "value"}, {"sv.name", "one\rtwo", "value"}, {"sv.a\nb", "v", "key"},
    };
    for (const auto& [key, value, what] : cases) {
        std::string got = "no error";
        try {
            // No session is open: reaching the remote side would fail differently.
            set_cfg_option("/c/s.con", key, value, true);
        } catch (const TUError& e) {
            got = e.message;
        }
        EXPECT_EQ(got, "Set option '" + key + "' failed in /c/s.con: " + what +
                           " holds a line break");
    }
}

TEST(SetCfg, FailedStepsLoseNoLine)
{
    const std::string original = "first 1\nsv.maxPlayers 32\nlast 2";
    TCfg c;
    const std::string pre = c.file + ".pre";
    const std::string bad_sed = "sed() { echo 'sed: broken' >&2; return 4; }; ";
    struct { std::string prefix, err, file, backup; int status; } cases[] = {
        // sed's redirection has emptied the file: the backup is put back
        // before the append...
        {bad_sed, "sed: broken\n", original + "\nsv.maxPlayers 16\n", original, 0},
        // ...and if even that fails, nothing is appended and the backup stays.
        {bad_sed + "cat() { echo 'cat: broken' >&2; return 5; }; ", "sed: broken\ncat: broken\n",
         "", original, 5},
        // No backup can be made: the file is left alone and the setting appended.
        {"ln -sf /none/x " + shell_str(pre) + "; ",
         "cp: not writing through dangling symlink '" + pre + "'\n",
         original + "\nsv.maxPlayers 16\n", "", 0},
    };
    for (const auto& k : cases) {
        write_file(c.file, original);
        TProc r = c.set("sv.maxPlayers", "16", false, k.prefix);
        EXPECT_EQ(r.status, k.status) << k.err;
        EXPECT_EQ(r.err, k.err);
        EXPECT_EQ(read_file(c.file), k.file) << k.err;
        EXPECT_EQ(read_file(pre), k.backup) << k.err;
    }
}
