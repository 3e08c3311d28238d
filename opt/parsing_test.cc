#include "opt/parsing.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "opt/test_argv.h"

namespace zelto::opt {
namespace {

using P = TOParsing;

// The what() of the TError that f throws, or "" when none.
std::string error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const TError& e) {
    return e.what();
  }
  return "";
}

TOParsing session(std::initializer_list<std::string> words) {
  TestArgv a(words);
  return TOParsing(a.argv(), a.argc());
}

TEST(LookupTest, RequiredOptionsReportAtEndOfStatement) {
  P p = session({"prog", "--url=", "--exec=1", "-h"});
  EXPECT_EQ(error_of([&] { p("address", req_arg); }),
            "Requires long option '--address'");
  EXPECT_EQ(error_of([&] { p('v'); }), "Requires short option '-v'");
  EXPECT_EQ(error_of([&] { p("exec", no_arg); }),
            "Incorrect long option '--exec'");
  EXPECT_EQ(p.state(), P::badbit);  // the record outlives the throw
  bool found = true;
  EXPECT_THROW(found = p("url", req_arg).found, P::TBadLOpt);
  EXPECT_FALSE(found);
  EXPECT_TRUE(p("url", no_arg).found);  // "--url=" has an empty value
  auto r = p("exec", opt_arg);
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.entry->second.value, "1");
}

TEST(LookupTest, ClearMakesAnOptionOptional) {
  P p = session({"prog", "--dir=/srv"});
  bool found = true;
  EXPECT_NO_THROW((found = p("url", req_arg).found, p.clear()));
  EXPECT_FALSE(found);
  { p("dir", req_arg); }
  EXPECT_NO_THROW(p.end());
}

TEST(LookupTest, OnlyTheLatestLookupIsChecked) {
  P p = session({"prog", "--b"});
  EXPECT_NO_THROW({
    auto a = p("a", no_arg);
    auto b = p("b", no_arg);
  });
  EXPECT_NO_THROW({
    auto a = p("a", req_arg);
    auto b = p['c'];  // resets the state but adds no check of its own
    EXPECT_FALSE(b.found);
  });
}

TEST(LookupTest, EndRethrowsAFailureStillRecorded) {
  P p = session({"prog"});
  EXPECT_THROW(p("a", req_arg), P::TNoLOpt);
  EXPECT_EQ(error_of([&] { p.end(); }), "Requires long option '--a'");
  // While unwinding, a sentry keeps quiet and leaves the check to end().
  EXPECT_THROW(
      {
        auto r = p('q');
        throw std::runtime_error("busy");
      },
      std::runtime_error);
  EXPECT_EQ(error_of([&] { p.end(); }), "Requires short option '-q'");
}

TEST(EndTest, ReportsOptionsNeverAccepted) {
  P p = session({"prog", "--exec=1"});
  EXPECT_EQ(error_of([&] { p("exec", no_arg), p.clear(); p.end(); }),
            "Unknown option '--exec'");

  P q = session({"prog", "-hv"});
  q('h');
  EXPECT_EQ(error_of([&] { q.end(); }), "Unknown option '-v'");
  EXPECT_THROW(q.end(), P::TUnknSOpt);  // nothing was emptied by the throw

  P r = session({"prog", "--zzz", "-x"});
  EXPECT_EQ(error_of([&] { r.end(); }), "Unknown option '-x'");

  P s = session({"prog", "--beta", "--alpha"});
  EXPECT_EQ(error_of([&] { s.end(); }), "Unknown option '--alpha'");
  s("alpha", no_arg);
  EXPECT_THROW(s.end(), P::TUnknLOpt);
}

TEST(EndTest, SuccessEmptiesTheLookedUpSets) {
  P p = session({"prog", "--b", "--a", "-h", "-v", "plain"});
  p("a", no_arg);
  p("a", opt_arg);  // counted once
  p('h');
  EXPECT_FALSE(p["c"].found);
  EXPECT_TRUE(p['v'].found);  // known without being required
  EXPECT_EQ(p.state(), P::goodbit);
  p("b", no_arg);
  EXPECT_NO_THROW(p.end());
  EXPECT_EQ(error_of([&] { p.end(); }), "Unknown option '-h'");
}

int calls = 0;
bool takes_login(TOParsing s) {
  ++calls;
  s("login", req_arg);
  s.end();
  return true;
}
bool declines(TOParsing) {
  ++calls;
  return false;
}

TEST(DispatchTest, FirstPresentCommandRunsOnTheSharedSession) {
  P p = session({"prog", "--copy-file", "--login=u", "--help"});
  calls = 0;
  bool done = (p("exec", no_arg) >> takes_login) ||
              (p("copy-file", no_arg) >> declines) ||
              (p("help", no_arg) >> takes_login) ||
              (p("stop", no_arg) >> takes_login);
  EXPECT_TRUE(done);
  EXPECT_EQ(calls, 2);  // copy-file declined, help took over
  // The handler's own end() passed on the shared sets and emptied them.
  EXPECT_EQ(error_of([&] { p.end(); }), "Unknown option '--copy-file'");
}

TEST(DispatchTest, NoMatchLeavesTheCommandUnknown) {
  P p = session({"prog", "--exec=1"});
  calls = 0;
  bool done = true;
  EXPECT_NO_THROW((done = (p("exec", no_arg) >> takes_login) ||
                          (p('h') >> takes_login),
                   p.clear()));
  EXPECT_FALSE(done);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(error_of([&] { p.end(); }), "Unknown option '--exec'");
}

TEST(ShiftTest, StepsWithinTheWordList) {
  P p = session({"prog", "a", "b", "c"});
  auto pos = p.opts().words_begin();
  EXPECT_TRUE(shift(p, pos, 2));
  EXPECT_FALSE(shift(p, pos, 5));  // would leave the list: refused
  EXPECT_EQ(*pos, "c");
  EXPECT_TRUE(shift(p, pos, -1));
  EXPECT_EQ(*pos, "b");
  EXPECT_FALSE(shift(p, pos, 2));
  EXPECT_EQ(pos, p.opts().words_end());
  EXPECT_FALSE(shift(p, pos, -1));
  EXPECT_EQ(pos, p.opts().words_end());
}

}  // namespace
}  // namespace zelto::opt
