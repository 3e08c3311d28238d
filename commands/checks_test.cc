#include "commands/checks.h"

#include "remote/error.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <utility>

TEST(ChkAbsPath, OnlyALeadingSlashPasses)
{
    EXPECT_NO_THROW(chk_abs_path("/", "dir"));
    for (const char* path : {"", "relative", " /x", "~/x"})
        EXPECT_THROW(chk_abs_path(path, "dir"), TUError) << path;
}

TEST(RefuseSetting, AValueThatCouldEndItsSettingIsRefusedWithItsLine)
{
    using K = TSettingKind;
    const std::string quote = "Setting 'k' holds a double quote",
                      number = "Setting 'k' must be a whole number",
                      blank = "Setting 'k' holds a blank or quote",
                      line = "Set option 'k' failed in /f: value holds a line break",
                      size = "Setting 'k' is longer than 1024 bytes";
    const std::tuple<K, std::string, std::string> cases[] = {
        {K::text, "it's", ""},
        {K::text, "a\"b", quote},
        {K::flag, "1\n", line},
        {K::number, "00", ""},
        {K::number, "2147483647", ""},
        {K::number, "2147483648", number},
        {K::number, "", number},
        {K::number, "-1", number},
        {K::bare, "10.0.0.1", ""},
        {K::bare, "a b", blank},
        {K::bare, "a'", blank},
        {K::port, "8\r", line},
        {K::text, std::string(1024, 'x'), ""},
        {K::text, std::string(1025, '"'), size},
        {K::bare, std::string(1025, 'x') + "\n", line}};
    for (const auto& [kind, value, message] : cases) {
        std::string refused;
        try {
            refuse_setting("/f", "k", value, kind, "opt");
        } catch (const TUError& e) {
            refused = e.option == "opt" ? e.message : "no option: " + e.message;
        }
        EXPECT_EQ(refused, message) << value;
    }
    EXPECT_TRUE(is_port_number("0") && is_port_number("65535") && !is_port_number("65536"));
}

std::string refusal(const std::function<void()>& check)
{
    try {
        check();
    } catch (const TUError& e) {
        return e.message;
    }
    return "";
}

TEST(StartChecks, ConsolePasswordModAndMapListAreRefusedWithTheirLines)
{
    const std::string rcon = "Rcon password ", mod = "Mod name must be lower-case letters, digits, "
                                                     "'-' or '_'";
    const std::pair<std::string, std::string> passwords[] = {
        {"a b", ""},
        {"a=b\n", rcon + "holds an equals sign"},
        {"a\rb", rcon + "holds a line break"},
        {" a", rcon + "begins or ends with a blank"},
        {"a\t", rcon + "begins or ends with a blank"},
        {"", rcon + "is empty"}};
    for (const auto& [password, message] : passwords)
        EXPECT_EQ(refusal([&] { refuse_rcon_password(password); }), message) << password;
    for (const auto& [name, message] : {std::pair<std::string, std::string>{"xpack-2_b", ""},
                                        {"Xpack", mod},
                                        {"a/..", mod},
                                        {"a b", mod},
                                        {"", mod}})
        EXPECT_EQ(refusal([&] { chk_mod_name(name); }), message) << name;
    EXPECT_EQ(map_list("dalian_plant:gpm_cq:64,a_1:gpm_ctf:16"),
              "mapList.append dalian_plant gpm_cq 64\nmapList.append a_1 gpm_ctf 16\n");
    for (const char* entry :
         {"", "a:gpm_cq", "a:gpm_cq:16:", "A:gpm_cq:16", "a:gpn_cq:16", "a:gpm_:16", "a:gpm_Cq:16",
          "a:gpm_cq:24", ":gpm_cq:16", "../a:gpm_cq:16"})
        EXPECT_EQ(refusal([&] { map_list(std::string("a:gpm_cq:32,") + entry); }),
                  std::string("Map list entry '") + entry + "' must be MAP:MODE:SIZE")
            << entry;
    std::string list = "a:gpm_cq:16";
    for (int i = 1; i < 256; ++i)
        list += ",a:gpm_cq:16";
    EXPECT_EQ(refusal([&] { map_list(list); }), "");
    EXPECT_EQ(refusal([&] { map_list(list + ",a:x:1"); }), "Map list holds more than 256 entries");
}
