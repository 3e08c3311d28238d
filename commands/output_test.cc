#include "commands/output.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

// What nlohmann's dump makes of text: its escaping, or nothing for text it
// refuses as not UTF-8.
std::optional<std::string> dumped(const std::string& text)
{
    try {
        const std::string quoted = nlohmann::json(text).dump();
        return quoted.substr(1, quoted.size() - 2);
    } catch (const nlohmann::json::type_error&) {
        return std::nullopt;
    }
}

// The fast paths judge and escape exactly as the JSON library does: every
// byte alone, and around the edges of each length of character.
TEST(OutputTest, JudgesAndEscapesTextAsTheJsonLibrary)
{
    std::vector<std::string> texts;
    for (int c = 0; c < 256; ++c)
        texts.push_back(std::string(1, static_cast<char>(c)) + "abcdefghij");
    for (const char* edge : {"\xC1\xBF", "\xC2\x80", "\xDF\xBF", "\xDF\xC0", "\xE0\x9F\xBF", "\xE0\xA0\x80",
                             "\xED\x9F\xBF", "\xED\xA0\x80", "\xEF\xBF\xBF", "\xEF\xBF", "\xF0\x8F\xBF\xBF",
                             "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80",
                             "\xF0\x90\x80", "\xE2\x82\xAC\x80", "\x80", "\xFF"})
        for (const char* around : {"", "12345678", "\"\\/\x7f\t\x1f"})
            texts.push_back(std::string(around) + edge + around);
    for (const std::string& text : texts) {
        std::string escaped;
        append_json_text(escaped, text);
        const auto want = dumped(text);
        EXPECT_EQ(is_utf8(text), want.has_value()) << ::testing::PrintToString(text);
        if (want) {
            EXPECT_EQ(escaped, *want) << ::testing::PrintToString(text);
        }
    }
}

}  // namespace
