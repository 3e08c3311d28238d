#include "commands/remote_script.h"

#include <gtest/gtest.h>

#include <cstdio>

TEST(ShellStr, EveryByteSurvivesARealShell)
{
    std::string value;
    for (int round = 0; round < 2; ++round)
        for (int c = 1; c < 256; ++c)
            value += static_cast<char>(c);
    value += "''\\'$(touch /tmp/shell_str_breach)";
    std::remove("/tmp/shell_str_breach");
    // The quoted word goes through sh's parser, then back out unchanged.
    const std::string line = "printf %s " + shell_str(value) + " ; printf %s " + shell_str("") + "x";
    FILE* sh = popen(line.c_str(), "r");
    ASSERT_NE(sh, nullptr);
    std::string out;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, sh)) > 0;)
        out.append(buffer, n);
    EXPECT_EQ(pclose(sh), 0);
    EXPECT_EQ(out, value + "x");
    FILE* breach = std::fopen("/tmp/shell_str_breach", "r");
    EXPECT_EQ(breach, nullptr);
    if (breach)
        std::fclose(breach);
}

TEST(StepFailure, ARowOfTheWholeLineGoesBeforeItsStepsRow)
{
    const TFailures failures = {{"same-dir", "Is the server directory", "", false},
                                {"same-dir inside", "Is inside the server directory", "", false},
                                {"port", "Port ", " in use", false},
                                {"installing", "Install already running in ", "", false, TCode::busy}};
    const struct {
        std::string out, message, step;
    } cases[] = {{"same-dir\n", "Is the server directory", "same-dir"},
                 {"same-dir inside\n", "Is inside the server directory", "same-dir"},
                 {"x\nport 80\n", "Port 80 in use", "port"},
                 {"installing /a b\n", "Install already running in /a b", ""}};
    for (const auto& c : cases) {
        TExecResult r{1, c.out, ""};
        try {
            throw_step_failure(r, failures);
        } catch (const TUError& e) {
            EXPECT_EQ(e.message, c.message);
            EXPECT_EQ(e.step, c.step);
        }
    }
}
