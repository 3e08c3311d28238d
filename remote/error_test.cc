#include "remote/error.h"

#include <gtest/gtest.h>

TEST(OneLine, RemoteErrorTextBecomesOneLine)
{
    const std::pair<std::string, std::string> cases[] = {
        {"Copy stop script failed: sh: 1: cannot create /c/stop.sh: Directory nonexistent\n",
         "Copy stop script failed: sh: 1: cannot create /c/stop.sh: Directory nonexistent"},
        {"Start server failed: Process dead\r\n\r\n", "Start server failed: Process dead"},
        {"failed: first\nsecond\r\n\nthird\n", "failed: first; second; third"},
        {"\nleading break", "leading break"},
        {"Plain line", "Plain line"},
        {"", ""},
    };
    for (const auto& [message, line] : cases)
        EXPECT_EQ(one_line(message), line) << message;
}
