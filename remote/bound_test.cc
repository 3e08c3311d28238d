#include "remote/bound.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

// A run stuck where no wait looks at the bound (here a plain sleep) is
// ended by the alarm, which prints the bound's line in the run's format
// and removes the files registered for it, not one dropped since.
TEST(Bound, TheAlarmEndsAStuckRunWithTheLineInTheRunsFormatAndItsCleanUps)
{
    // Named by pid: another checkout's tests may run beside these.
    const std::string base = testing::TempDir() + "bound_" + std::to_string(getpid());
    const std::string removed = base + "_removed", kept = base + "_kept";
    for (const std::string& path : {removed, kept})
        close(creat(path.c_str(), 0600));
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        set_line_maker([](const TUError& e) {
            return std::string(code_name(e.code)) + ": " + e.message + "\n";
        });
        add_cleanup(kept);
        add_cleanup(removed);
        drop_cleanup(kept);
        set_run_bound(1);
        sleep(30);
        _exit(0);
    }
    close(out[1]);
    char buffer[256];
    std::string printed;
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
        printed.append(buffer, n);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(printed, "timeout: Timed out after 1 s\n");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    EXPECT_NE(access(removed.c_str(), F_OK), 0);
    EXPECT_EQ(unlink(kept.c_str()), 0);
}
