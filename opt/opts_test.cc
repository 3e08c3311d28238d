#include "opt/opts.h"

#include <gtest/gtest.h>

#include <climits>

#include "opt/test_argv.h"
#include "opt/xtos.h"

namespace zelto::opt {
namespace {

TEST(OptsLoadTest, DegenerateVectors) {
  TestArgv a{"prog", "--x"};
  TOpts zero(a.argv(), 0);
  EXPECT_EQ(zero.prog_name(), "");
  EXPECT_EQ(zero.words_begin(), zero.words_end());
  EXPECT_TRUE(zero.lopts().empty());
  EXPECT_EQ(TOpts(nullptr, 3).words_size(), 0u);
  EXPECT_EQ(TOpts(a.argv(), 1).prog_name(), "prog");
  EXPECT_EQ(TOpts(a.argv(), 1).words_size(), 0u);
  a.null_at(0);
  EXPECT_EQ(TOpts(a.argv(), 2).words_size(), 0u);
  EXPECT_EQ(TOpts(a.argv()).words_size(), 0u);
}

TEST(OptsLoadTest, StopsAtNullEntry) {
  TestArgv a{"prog", "--a", "--b", "-c"};
  a.null_at(2);
  TOpts counted(a.argv(), 4);
  ASSERT_EQ(counted.words_size(), 1u);
  EXPECT_EQ(counted.word(0), "--a");
  EXPECT_EQ(counted.lopts().size(), 1u);
  TOpts terminated(a.argv());
  EXPECT_EQ(terminated.prog_name(), "prog");
  EXPECT_EQ(terminated.words_size(), 1u);
}

TEST(OptsClassifyTest, LongForms) {
  TestArgv a{"p", "--exec", "--address=10.0.0.1", "--login=", "--cmd=a=b c",
             "--check-on-root", "--x"};
  TOpts o(a.argv(), a.argc());
  const std::map<std::string, std::string> want{
      {"exec", ""}, {"address", "10.0.0.1"}, {"login", ""}, {"cmd", "a=b c"},
      {"check-on-root", ""}, {"x", ""}};
  ASSERT_EQ(o.lopts().size(), want.size());
  for (const auto& [name, value] : want) {
    auto it = o.lopts().find(name);
    ASSERT_NE(it, o.lopts().end()) << name;
    EXPECT_EQ(it->second.name, name);
    EXPECT_EQ(it->second.value, value) << name;
  }
  EXPECT_TRUE(o.sopts().empty());
}

TEST(OptsClassifyTest, ShortGroups) {
  TestArgv a{"p", "-h", "-abc", "-_Z"};
  TOpts o(a.argv(), a.argc());
  std::string keys;
  for (const auto& [c, rec] : o.sopts()) {
    EXPECT_EQ(rec.name, c);
    keys += c;
  }
  EXPECT_EQ(keys, "Z_abch");
  EXPECT_EQ(o.sopts().at('b').pos, o.words_begin() + 1);
}

TEST(OptsClassifyTest, MalformedOptionsArePlainWords) {
  TestArgv a{"p", "--port2=1", "--a.b", "---x", "--", "-", "-1", "-a1",
             "-a=b", "value", "", "--9", "--a b"};
  TOpts o(a.argv(), a.argc());
  EXPECT_TRUE(o.sopts().empty());
  EXPECT_TRUE(o.lopts().empty());
  EXPECT_EQ(o.words_size(), 12u);
}

TEST(OptsClassifyTest, LastOccurrenceWinsAndWordsKeepTheirOrder) {
  TestArgv a{"p", "--address=a", "-ab", "--dir", "/srv", "--", "--address=b",
             "-b"};
  TOpts o(a.argv(), a.argc());
  EXPECT_EQ(std::vector<std::string>(o.words_begin(), o.words_end()),
            (std::vector<std::string>{"--address=a", "-ab", "--dir", "/srv",
                                      "--", "--address=b", "-b"}));
  EXPECT_EQ(o.lopts().size(), 2u);  // no separate-word values, no end marker
  EXPECT_EQ(o.lopts().at("dir").value, "");
  EXPECT_EQ(o.lopts().at("address").value, "b");
  EXPECT_EQ(o.lopts().at("address").pos, o.words_begin() + 5);
  EXPECT_EQ(o.sopts().at('a').pos, o.words_begin() + 1);
  EXPECT_EQ(o.sopts().at('b').pos, o.words_begin() + 6);
}

TEST(OptsErrorTest, OutOfRange) {
  TestArgv a{"p", "w0", "--w1"};
  TOpts o(a.argv(), a.argc());
  try {
    o.throwTOutOfRange(7);
    FAIL() << "no throw";
  } catch (const TOpts::TOutOfRange& e) {
    EXPECT_STREQ(e.what(), "Wrong index (index = 7)");
    EXPECT_EQ(e.index(), 7u);
    EXPECT_EQ(e.opts().words_begin(), o.words_begin());
  }
  EXPECT_THROW(o.throwTOutOfRange(0), TOpts::TOptsError);
  EXPECT_THROW(o.throwTOutOfRange(0), TError);
  EXPECT_THROW(o.throwTOutOfRange(0), std::exception);
  EXPECT_EQ(o.word(1), "--w1");
  EXPECT_THROW(o.word(2), TOpts::TOutOfRange);
}

TEST(XtosTest, Formats) {
  EXPECT_EQ(xtos<int>(-5), "-5");
  EXPECT_EQ(xtos<unsigned long>(ULONG_MAX), "18446744073709551615");
  EXPECT_EQ(xtos<int>(1234567), "1234567");
}

}  // namespace
}  // namespace zelto::opt
