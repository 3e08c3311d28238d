#include "commands/checks.h"

#include "remote/error.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

TEST(ChkAbsPath, OnlyALeadingSlashPasses)
{
    EXPECT_NO_THROW(chk_abs_path("/"));
    for (const char* path : {"", "relative", " /x", "~/x"})
        EXPECT_THROW(chk_abs_path(path), TUError) << path;
}

TEST(RefuseSetting, AValueThatCouldEndItsSettingIsRefusedWithItsLine)
{
    using K = TSettingKind;
    const std::string quote = "Setting 'k' holds a double quote",
                      number = "Setting 'k' must be a whole number",
                      blank = "Setting 'k' holds a blank or quote",
                      line = "Set option 'k' failed in /f: value holds a line break";
    const std::tuple<K, std::string, std::string> cases[] = {
        {K::text, "it's", ""},   {K::text, "a\"b", quote},      {K::flag, "1\n", line},
        {K::number, "00", ""},   {K::number, "2147483647", ""}, {K::number, "2147483648", number},
        {K::number, "", number}, {K::number, "-1", number},     {K::bare, "10.0.0.1", ""},
        {K::bare, "a b", blank}, {K::bare, "a'", blank},        {K::port, "8\r", line}};
    for (const auto& [kind, value, message] : cases) {
        std::string refused;
        try {
            refuse_setting("/f", "k", value, kind);
        } catch (const TUError& e) {
            refused = e.message;
        }
        EXPECT_EQ(refused, message) << value;
    }
    EXPECT_TRUE(is_port_number("0") && is_port_number("65535") && !is_port_number("65536"));
}
