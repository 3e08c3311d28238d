#include "opt/opts.h"

#include <gtest/gtest.h>

#include "opt/test_argv.h"

namespace zelto::opt {
namespace {

// The program name, then each word in brackets.
std::string loaded(const TOpts& o)
{
    std::string s = o.prog_name();
    for (auto w = o.words_begin(); w != o.words_end(); ++w)
        s += "[" + *w + "]";
    return s;
}

// What one word yields: "--name=value" per long option, "-c" per short one.
std::string kinds(const char* word)
{
    TOpts o = TestArgv({"p", word}).opts();
    std::string s;
    for (const auto& [name, rec] : o.lopts())
        s += "--" + rec.name + "=" + rec.value;
    for (const auto& [c, rec] : o.sopts())
        s += std::string("-") + rec.name;
    return s;
}

TEST(OptsTest, ClassifiesEachWord)
{
    const char* options[][2] = {{"--exec", "--exec="},
                                {"--address=10.0.0.1", "--address=10.0.0.1"},
                                {"--login=", "--login="},
                                {"--cmd=a=b c", "--cmd=a=b c"},
                                {"--x", "--x="},
                                {"--check-on-root", "--check-on-root="},
                                {"-h", "-h"},
                                {"-abc", "-a-b-c"},
                                {"-_Z", "-Z-_"},
                                {"--port2=1", "--port2=1"}};
    for (const auto& [word, want] : options)
        EXPECT_EQ(kinds(word), want) << word;
    for (const char* plain :
         {"--a.b", "---x", "--", "-", "-1", "-a1", "-a=b", "value", "", "--9", "--a b"})
        EXPECT_EQ(kinds(plain), "") << plain;
}

TEST(OptsTest, WordsKeepTheirOrderAndTheLastOccurrenceWins)
{
    TOpts o =
        TestArgv({"p", "--address=a", "-ab", "--dir", "/srv", "--", "--address=b", "-b"}).opts();
    EXPECT_EQ(loaded(o), "p[--address=a][-ab][--dir][/srv][--][--address=b][-b]");
    EXPECT_EQ(o.lopts().size(), 2u);  // no separate-word values, no end marker
    EXPECT_EQ(o.lopts().at("address").value, "b");
}

}  // namespace
}  // namespace zelto::opt
