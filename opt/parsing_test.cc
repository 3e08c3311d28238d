#include "opt/parsing.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "opt/test_argv.h"

namespace zelto::opt {
namespace {

using P = TOParsing;

P session(std::vector<std::string> words)
{
    words.insert(words.begin(), "prog");
    return P(TestArgv(std::move(words)).opts());
}

TEST(ParsingTest, ReportsWhatTheLookupsLeaveUnaccepted)
{
    struct {
        std::vector<std::string> words;
        void (*run)(P&);
        std::string error;
    } rows[] = {
        // A reporting lookup's sentry throws once the statement has used the result.
        {{"-h"}, [](P& p) { p('v'); }, "Requires short option '-v'"},
        {{"--url="},
         [](P& p) {
             bool found = true;  // the result is assigned before the throw
             try {
                 found = p("url", req_arg).found;
             } catch (const P::TBadLOpt&) {
                 EXPECT_FALSE(found);
                 throw;
             }
         },
         "Incorrect long option '--url'"},
        {{"--url=a"}, [](P& p) { p("url", no_arg); }, "Incorrect long option '--url'"},
        {{"--url=", "--exec=1", "-h"},
         [](P& p) {
             EXPECT_EQ(p("exec", opt_arg).entry->second.value, "1");
             p("url", no_arg), p("exec", req_arg), p('h'), p.end();  // "--url=" has no value
         },
         ""},
        // Only the latest lookup is checked; operator[] requires nothing.
        {{"--b", "-v"},
         [](P& p) {
             {
                 auto a = p("a", no_arg), b = p("b", no_arg);
             }
             {
                 auto c = p("c", req_arg), d = p["d"];
             }
             p['v'], p.end();  // known, so end() accepts it
         },
         ""},
        {{}, [](P& p) { p("x", req_arg), p.clear(), p.end(); }, ""},
        // A failure stays recorded for end(), also when a sentry kept quiet
        // because another exception was on its way.
        {{},
         [](P& p) {
             EXPECT_THROW(p("x", req_arg), P::TNoLOpt);
             p.end();
         },
         "Requires long option '--x'"},
        {{},
         [](P& p) {
             EXPECT_THROW(
                 {
                     auto r = p('q');
                     throw std::runtime_error("busy");
                 },
                 std::runtime_error);
             p.end();
         },
         "Requires short option '-q'"},
        // end(): short options before long ones, lowest name first; an option
        // whose value broke its kind was never accepted.
        {{"--zzz", "--strat", "-x"}, [](P& p) { p.end(); }, "Unknown option '-x'"},
        {{"--zzz", "--strat", "-hv"},
         [](P& p) { p('h'), p('v'), p.end(); },
         "Unknown option '--strat'"},
        {{"--exec=1"},
         [](P& p) { p("exec", no_arg), p.clear(), p.end(); },
         "Unknown option '--exec'"},
        {{"--a", "--b"},
         [](P& p) { p("a", no_arg), p("a", opt_arg), p.end(); },  // counted once
         "Unknown option '--b'"},
        // A failed end() empties nothing, a successful one the looked-up sets.
        {{"-hv"}, [](P& p) { p('h'), error_of([&] { p.end(); }), p.end(); }, "Unknown option '-v'"},
        {{"-h"}, [](P& p) { p('h'), p.end(), p.end(); }, "Unknown option '-h'"},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        P p = session(rows[i].words);
        EXPECT_EQ(error_of([&] { rows[i].run(p); }), rows[i].error) << "row " << i;
    }
}

}  // namespace
}  // namespace zelto::opt
