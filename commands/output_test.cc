#include "commands/output.h"
#include "commands/printable.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

// What nlohmann's dump makes of text but its opening quote, or nothing for
// text it refuses as not UTF-8.
std::optional<std::string> dumped(const std::string& text)
{
    try {
        return nlohmann::json(text).dump().substr(1);
    } catch (const nlohmann::json::type_error&) {
        return std::nullopt;
    }
}

// What report prints on standard output in the given mode.
std::string printed(bool json, const TResult& result)
{
    std::string out(1 << 18, '\0');
    std::FILE* real = std::exchange(stdout, fmemopen(out.data(), out.size(), "w"));
    start_output(json);
    report(result);
    out.resize(std::ftell(stdout));
    std::fclose(stdout);
    stdout = real;
    return out;
}

std::FILE* file_of(std::string& bytes) { return fmemopen(bytes.data(), bytes.size(), "r"); }

// The fast paths judge and escape exactly as the JSON library does: every
// byte alone, and around the edges of each length of character; a file
// field too, a character cut by the end of a chunk waiting for the next.
TEST(OutputTest, JudgesAndEscapesTextAsTheJsonLibrary)
{
    std::vector<std::string> texts;
    for (int c = 0; c < 256; ++c)
        texts.push_back(std::string(1, static_cast<char>(c)) + "abcdefghij");
    for (const char* edge :
         {"\xC1\xBF", "\xC2\x80", "\xDF\xBF", "\xDF\xC0", "\xE0\x9F\xBF", "\xE0\xA0\x80",
          "\xED\x9F\xBF", "\xED\xA0\x80", "\xEF\xBF\xBF", "\xEF\xBF", "\xF0\x8F\xBF\xBF",
          "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80",
          "\xF0\x90\x80", "\xE2\x82\xAC\x80", "\x80", "\xFF"})
        for (const char* around : {"", "12345678", "\"\\/\x7f\t\x1f"})
            texts.push_back(std::string(around) + edge + around);
    for (const std::string& text : texts) {
        const auto want = dumped(text);
        EXPECT_EQ(is_utf8(text), want.has_value()) << ::testing::PrintToString(text);
        std::string file = std::string((3 << 15) - 2, 'a') + text;
        const std::string json = printed(true, TResult().file("f", file_of(file)));
        EXPECT_EQ(json.substr(11, 4) == R"("f":)", want.has_value())
            << ::testing::PrintToString(text);
        EXPECT_TRUE(json.ends_with(want.value_or("") + "}\n")) << ::testing::PrintToString(text);
    }
}

// No text from elsewhere converts to a part of a result's text as the
// program's own: it must say its escaping.
static_assert(!std::is_convertible_v<std::string, TText> &&
              !std::is_convertible_v<std::string_view, TText>);

TEST(OutputTest, AResultPrintsItsTextEscapedUnlessRawOrItsJsonFieldsInOrder)
{
    std::string err = "err\x1b", out = "\xff";
    TResult result;
    result.flag("up", false).file("out", file_of(out)).field("name", "a\nb");
    result.number("n", "-012").number("no", "1e3");
    result.text({"own\\ ", TText::line("l\x1b\n\\"), " ", TText::lines("a\nb\x7f"),
                 TText::raw("\x1b"), TText::number(-1), TText::raw(file_of(err))});
    EXPECT_EQ(printed(false, result), "own\\ l\\x1b\\x0a\\\\ a\nb\\x7f\x1b-1err\x1b");
    const char* json = R"({"ok":true,"up":false,"out_base64":"/w==","name":"a\nb","n":-12})";
    EXPECT_EQ(printed(true, result), json + std::string("\n"));
}

TEST(OutputTest, WholeNumbersHaveAtMost18DigitsAndAMinusAtMost)
{
    EXPECT_EQ(whole_number_value("-999999999999999999"), -999999999999999999);
    for (const char* text : {"1000000000000000000", "", "-", "-0x1", "+1", " 1", "1.5", "--1"})
        EXPECT_EQ(whole_number_value(text), std::nullopt) << text;
}

}  // namespace
