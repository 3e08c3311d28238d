#include "opt/lookup.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "opt/test_argv.h"

namespace zelto::opt {
namespace {

TEST(ValueOrEnv, TheOptionWinsThenTheEnvironmentThenItIsMissing) {
  auto value = [](std::vector<std::string> words, const char* env) {
    words.insert(words.begin(), "prog");
    TestArgv argv(std::move(words));
    TOParsing parsing(argv.opts());
    env ? setenv("BF2_TEST_SECRET", env, 1) : unsetenv("BF2_TEST_SECRET");
    std::string result;
    const std::string error =
        error_of([&] { result = value_or_env(parsing, "pw", req_arg, "BF2_TEST_SECRET"); });
    return error.empty() ? result : error;
  };
  EXPECT_EQ(value({"--pw=given"}, "env"), "given");
  EXPECT_EQ(value({}, "env"), "env");
  EXPECT_EQ(value({}, ""), "");  // an empty secret is a secret
  EXPECT_EQ(value({}, nullptr), "Requires long option '--pw'");
  EXPECT_EQ(value({"--pw="}, "env"), "Incorrect long option '--pw'");
  unsetenv("BF2_TEST_SECRET");
}

}  // namespace
}  // namespace zelto::opt
