// GCC 12 with the sanitizers warns of maybe-uninitialized members inside
// <regex>'s own std::function.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include "commands/programs.h"

#include "commands/sh_scripts.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <regex>
#include <set>
#include <tuple>

namespace {

// The parts without their comment lines.
std::string code(const std::vector<const char*>& parts)
{
    std::string all;
    for (const char* part : parts)
        all += std::regex_replace(part, std::regex("^[ \t]*#.*\n", std::regex::multiline), "");
    return all;
}

std::set<std::string> matches(const std::string& text, const std::string& pattern)
{
    std::set<std::string> found;
    const std::regex re(pattern, std::regex::multiline);
    for (std::sregex_iterator m(text.begin(), text.end(), re), end; m != end; ++m)
        found.insert(m->str(1));
    return found;
}

// The steps the parts fail, and how: the first word of each literal "fail
// STEP ...", and its whole line when all of it is literal ("same-dir
// inside"); the first argument of each call of a function that fails with
// its own arguments ("release mktemp").
std::map<std::string, TBy> raised_steps(const std::string& text)
{
    std::map<std::string, TBy> raised;
    const std::regex call(
        "(^|[\\s;&|{(])fail[ \t]+((\"[^\"]*\"|[^\\s;&|)}])+([ \t]+(\"[^\"]*\"|[^\\s;&|)}])+)*)");
    for (std::sregex_iterator m(text.begin(), text.end(), call), end; m != end; ++m) {
        const std::string line = std::regex_replace(m->str(2), std::regex("\""), "");
        if (line[0] != '$') {
            raised[line.substr(0, line.find(' '))] = TBy::sh;
            if (line.find('$') == std::string::npos)
                raised[line] = TBy::sh;
            continue;
        }
        const std::regex definition("^([a-z_]+)\\(\\) \\{", std::regex::multiline);
        std::string function = "no function";
        for (std::sregex_iterator f(text.begin(), text.begin() + m->position(), definition);
             f != end; ++f)
            function = f->str(1);
        for (const std::string& step : matches(text, "\\b" + function + "[ \t]+([a-z][a-z-]*)"))
            raised[step] = TBy::computed;
    }
    return raised;
}

// The variables the parts read ($NAME, ${NAME...}, names in $((...))) that
// neither they nor the shared functions set.  The environment is the
// account's to set: a part reads none of it (lib.sh sets PATH).
std::set<std::string> unset_reads(const TProgram& program)
{
    const std::string own = code(program.parts);
    std::set<std::string> reads = matches(own, "\\$\\{?([A-Za-z_][A-Za-z0-9_]*)");
    for (const std::string& sum : matches(own, "\\$\\(\\(([^()]*)\\)\\)"))
        reads.merge(matches(sum, "([A-Za-z_][A-Za-z0-9_]*)"));
    const std::string all = code({sh_ours, sh_lib}) + own;
    std::set<std::string> set = matches(all, "(?:^|[\\s;&|({!])([A-Za-z_][A-Za-z0-9_]*)=");
    set.merge(matches(all, "\\bfor[ \t]+([A-Za-z_][A-Za-z0-9_]*)[ \t]+in\\b"));
    for (const std::string& names :
         matches(all, "\\bread[ \t]+(?:-r[ \t]+)?((?:[A-Za-z_][A-Za-z0-9_]*[ \t]*)+)"))
        set.merge(matches(names, "([A-Za-z_][A-Za-z0-9_]*)"));
    std::erase_if(reads, [&](const std::string& name) { return set.count(name); });
    return reads;
}

}  // namespace

// Renaming a step on either side, or one that reads a variable its row does
// not declare, changes the JSON API or acts on "/": both fail here first.
TEST(Programs, StepsAndVariablesOfTheShAndTheTableAgree)
{
    for (const TProgram* program : programs::all) {
        SCOPED_TRACE(program->name);
        const std::string own = code(program->parts);
        std::map<std::string, TBy> raised = raised_steps(own);
        std::set<std::string> rows, declared;
        for (const TVar& var : program->vars)
            declared.insert(var.name);
        for (const TStep& row : program->steps) {
            rows.insert(row.step);
            // A C++ row's step is failed by no sh.
            EXPECT_EQ(raised.count(row.step) ? raised[row.step] : TBy::cxx, row.by)
                << "the step " << row.step;
            for (const std::string& name : matches(row.text + row.after, "\\{([A-Z_]+)\\}"))
                EXPECT_TRUE(declared.count(name))
                    << "the message of " << row.step << " names " << name;
            EXPECT_EQ(std::count(programs::outside.begin(), programs::outside.end(), row.step), 0);
        }
        for (const auto& [step, by] : raised)
            EXPECT_TRUE(rows.count(step) || rows.count(step.substr(0, step.find(' '))))
                << "no row for " << step;
        for (const std::string& name : unset_reads(*program))
            EXPECT_TRUE(declared.count(name)) << "reads the undeclared " << name;
        for (const std::string& name : declared)
            EXPECT_NE(own.find(name), std::string::npos) << "never reads " << name;
    }
}

// A panel branches on a remote error's step: the README lists exactly the
// steps a remote error can carry.
TEST(Programs, TheReadmeListsEveryRemoteStep)
{
    std::set<std::string> steps(programs::outside.begin(), programs::outside.end());
    steps.insert("script");
    for (const TProgram* program : programs::all)
        for (const TStep& row : program->steps)
            if (row.code == TCode::remote)
                steps.insert(row.step.substr(0, row.step.find(' ')));
    std::stringstream readme;
    readme << std::ifstream(BF2_README).rdbuf();
    std::string table = readme.str();
    table = table.substr(table.find("| Step | Commands | What failed |"));
    table = table.substr(0, table.find("\n\n"));
    std::set<std::string> listed;
    for (const std::string& row : matches(table, "^\\| ([^|]*) \\|"))
        listed.merge(matches(row, "`([a-z-]+)`"));
    listed.erase("Step");
    EXPECT_EQ(listed, steps);
}

// A value missing or unknown at the call fails the run, naming it; one
// empty where it must not be stops the program in a real sh before it acts
// (status would read /server.pid).
TEST(Programs, AValueMissingUnknownOrEmptyStopsTheProgramNamingIt)
{
    for (const auto& [values, message] : std::map<TValues, std::string>{
             {{{"CFGDIR", "/c"}}, "Remote program console lacks its variable LINE"},
             {{{"CFGDIR", "/c"}, {"LINE", ""}, {"CFGDRI", "/c"}},
              "Remote program console has no variable CFGDRI"}}) {
        try {
            program_text(programs::console, values);
            ADD_FAILURE() << message;
        } catch (const TUError& e) {
            EXPECT_EQ(std::make_pair(e.code, e.message), std::make_pair(TCode::internal, message));
        }
    }
    for (const std::string cfg : {"/nonexistent", ""}) {
        const std::string text = program_text(programs::status, {{"CFGDIR", cfg}});
        FILE* sh = popen(("/bin/sh -c " + shell_str(text) + " 2>/dev/null").c_str(), "r");
        char out[64] = "";
        EXPECT_EQ(std::string(std::fgets(out, sizeof out, sh) ? out : ""),
                  cfg.empty() ? "" : "stopped\n");
        EXPECT_EQ(WEXITSTATUS(pclose(sh)), cfg.empty() ? 2 : 0);
    }
}

TEST(ShellStr, EveryByteSurvivesARealShell)
{
    std::string value;
    for (int round = 0; round < 2; ++round)
        for (int c = 1; c < 256; ++c)
            value += static_cast<char>(c);
    value += "''\\'$(echo breach)";
    // The quoted word goes through sh's parser, then back out unchanged.
    const std::string line =
        "printf %s " + shell_str(value) + " ; printf %s " + shell_str("") + "x";
    FILE* sh = popen(line.c_str(), "r");
    ASSERT_NE(sh, nullptr);
    std::string out;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, sh)) > 0;)
        out.append(buffer, n);
    EXPECT_EQ(pclose(sh), 0);
    EXPECT_EQ(out, value + "x");
}

TEST(StepFailure, TheRowOfTheLineOrItsFirstWordGivesTheErrorLine)
{
    const TProgram& start = programs::prepare_start;
    const struct {
        const TProgram& program;
        std::string out, err;
        TCode code;
        std::string message, step;
    } cases[] = {
        {start, "same-dir inside\n", "", TCode::remote,
         "Configuration directory must not be inside the server directory", "same-dir"},
        {start, "x\nport 80\n", "", TCode::remote, "Port 80 using already other proces", "port"},
        {start, "installing /a b\n", "", TCode::install_running, "Install already running in /a b",
         ""},
        {start, "set sv.x\n", "no room", TCode::remote,
         "Set option 'sv.x' failed in /{c}/settings/serversettings.con: no room", "set"},
        {start, "root\n", "", TCode::root_refused,
         "Not for root: log in as the game server's account", ""},
        {start, "x\nlost\n", "", TCode::remote, "Remote script failed with status 1: lost", "lost"},
        {start, "", "gone", TCode::remote, "Remote script failed with status 1: gone", "script"},
        {programs::upload, "scp\n", "full", TCode::remote, "Failed to copy content: full", "scp"},
    };
    for (const auto& c : cases) {
        TExecResult r{1, c.out, c.err};
        try {
            throw_step_failure(c.program, r,
                               {{"CFGDIR", "/{c}"}, {"cut", "Failed to copy content"}});
        } catch (const TUError& e) {
            EXPECT_EQ(std::make_tuple(e.code, e.message, e.step),
                      std::make_tuple(c.code, c.message, c.step));
        }
    }
}
