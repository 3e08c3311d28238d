#include "remote/error.h"

#include <gtest/gtest.h>

TEST(OneLine, RemoteErrorTextBecomesOneLine)
{
    const std::pair<std::string, std::string> cases[] = {
        {"Start server failed: Process dead\r\n\r\n", "Start server failed: Process dead"},
        {"failed: first\nsecond\r\n\nthird\n", "failed: first; second; third"},
        {"\nleading break", "leading break"},
        {"", ""},
    };
    for (const auto& [message, line] : cases)
        EXPECT_EQ(one_line(message), line) << message;
}
