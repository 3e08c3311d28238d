#include "commands/programs.h"

#include "commands/sh_scripts.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <regex>
#include <set>

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
        for (size_t i = 1; i < m->size(); ++i)
            if ((*m)[i].matched)
                found.insert((*m)[i]);
    return found;
}

// What the parts fail: the first word of each literal "fail STEP ...", each
// whole literal line ("same-dir inside"), and the first argument of each
// call of a function that fails with its arguments (release mktemp).
struct TFails {
    std::set<std::string> literal, computed;
};
TFails fails_of(const std::string& text)
{
    TFails fails;
    const std::regex call("(^|[\\s;&|{(])fail[ \t]+((\"[^\"]*\"|[^\\s;&|)}])+([ \t]+(\"[^\"]*\"|[^\\s;&|)}])+)*)");
    for (std::sregex_iterator m(text.begin(), text.end(), call), end; m != end; ++m) {
        std::string line = std::regex_replace(m->str(2), std::regex("\""), "");
        if (line[0] != '$') {
            fails.literal.insert(line.substr(0, line.find(' ')));
            if (line.find('$') == std::string::npos)
                fails.literal.insert(line);
            continue;
        }
        const std::string before = text.substr(0, m->position());
        const std::string function = *--matches(before, "^([a-z_]+)\\(\\) \\{").end();
        for (const std::string& step : matches(text, "\\b" + function + "[ \t]+([a-z][a-z-]*)"))
            fails.computed.insert(step);
    }
    return fails;
}

// The variables the parts read that neither they nor the shared functions
// set: $NAME, ${NAME...} and names in $((...)); the environment's own are
// the host's.
std::set<std::string> unset_reads(const TProgram& program)
{
    const std::string own = code(program.parts);
    std::set<std::string> reads = matches(own, "\\$\\{?([A-Za-z_][A-Za-z0-9_]*)");
    for (const std::string& sum : matches(own, "\\$\\(\\(([^()]*)\\)\\)"))
        reads.merge(matches(sum, "([A-Za-z_][A-Za-z0-9_]*)"));
    const std::string all = code({sh_ours, sh_lib}) + own;
    std::set<std::string> set = matches(all, "(?:^|[\\s;&|({!])([A-Za-z_][A-Za-z0-9_]*)=");
    set.merge(matches(all, "\\bfor[ \t]+([A-Za-z_][A-Za-z0-9_]*)[ \t]+in\\b"));
    for (const std::string& names : matches(all, "\\bread[ \t]+(?:-r[ \t]+)?((?:[A-Za-z_][A-Za-z0-9_]*[ \t]*)+)"))
        set.merge(matches(names, "([A-Za-z_][A-Za-z0-9_]*)"));
    set.insert({"HOME", "SSH_CONNECTION"});
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
        const TFails fails = fails_of(code(program->parts));
        std::set<std::string> rows;
        for (const TStep& row : program->steps) {
            rows.insert(row.step);
            const std::set<std::string>* raised = row.by == TBy::sh         ? &fails.literal
                                                  : row.by == TBy::computed ? &fails.computed
                                                                            : nullptr;
            if (raised)
                EXPECT_TRUE(raised->count(row.step)) << "no fail of the row's step " << row.step;
            else
                EXPECT_FALSE(fails.literal.count(row.step) + fails.computed.count(row.step))
                    << "the sh fails the C++ step " << row.step;
            for (const std::string& name : matches(row.text + row.after, "\\{([A-Z_]+)\\}"))
                EXPECT_TRUE(std::count_if(program->vars.begin(), program->vars.end(),
                                          [&](const TVar& var) { return var.name == name; }))
                    << "the message of " << row.step << " names " << name;
            for (const std::string& outside : programs::outside)
                EXPECT_NE(row.step, outside);
        }
        for (const std::set<std::string>& raised : {fails.literal, fails.computed})
            for (const std::string& step : raised)
                EXPECT_TRUE(rows.count(step) || rows.count(step.substr(0, step.find(' '))))
                    << "no row for the step " << step;
        std::set<std::string> declared;
        for (const TVar& var : program->vars)
            declared.insert(var.name);
        for (const std::string& name : unset_reads(*program))
            EXPECT_TRUE(declared.count(name)) << "reads the undeclared " << name;
        for (const std::string& name : declared)
            EXPECT_NE(code(program->parts).find(name), std::string::npos) << "never reads " << name;
    }
}

TEST(Programs, AValueMissingOrUnknownAtTheCallFailsTheRunNamingIt)
{
    const struct {
        TValues values;
        std::string message;
    } cases[] = {
        {{{"CFGDIR", "/c"}}, "Remote program console lacks its variable LINE"},
        {{{"CFGDIR", "/c"}, {"LINE", ""}, {"CFGDRI", "/c"}}, "Remote program console has no variable CFGDRI"},
    };
    for (const auto& c : cases) {
        try {
            program_text(programs::console, c.values);
            ADD_FAILURE() << c.message;
        } catch (const TUError& e) {
            EXPECT_EQ(e.code, TCode::internal);
            EXPECT_EQ(e.message, c.message);
        }
    }
    EXPECT_NE(program_text(programs::console, {{"CFGDIR", "/c"}, {"LINE", ""}}).find(": \"${LINE?}\"\n"),
              std::string::npos);
}

// status, in a real sh: an empty CFGDIR stops it before it reads /server.pid.
TEST(Programs, AGuardEndsAProgramWhoseValueIsEmptyBeforeItActs)
{
    char dir[] = "/tmp/bf2guardXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string script = std::string(dir) + "/status";
    for (const std::string& cfg : {std::string(dir), std::string()}) {
        FILE* text = std::fopen(script.c_str(), "w");
        std::fputs(program_text(programs::status, {{"CFGDIR", cfg}}).c_str(), text);
        std::fclose(text);
        FILE* sh = popen(("/bin/sh " + script + " 2>/dev/null").c_str(), "r");
        char out[64] = "";
        std::fgets(out, sizeof out, sh);
        const int status = pclose(sh);
        EXPECT_EQ(std::string(out), cfg.empty() ? "" : "stopped\n");
        EXPECT_EQ(WEXITSTATUS(status), cfg.empty() ? 2 : 0);
    }
    std::remove(script.c_str());
    rmdir(dir);
}

TEST(ShellStr, EveryByteSurvivesARealShell)
{
    std::string value;
    for (int round = 0; round < 2; ++round)
        for (int c = 1; c < 256; ++c)
            value += static_cast<char>(c);
    value += "''\\'$(touch /tmp/shell_str_breach)";
    std::remove("/tmp/shell_str_breach");
    // The quoted word goes through sh's parser, then back out unchanged.
    const std::string line = "printf %s " + shell_str(value) + " ; printf %s " + shell_str("") + "x";
    FILE* sh = popen(line.c_str(), "r");
    ASSERT_NE(sh, nullptr);
    std::string out;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, sh)) > 0;)
        out.append(buffer, n);
    EXPECT_EQ(pclose(sh), 0);
    EXPECT_EQ(out, value + "x");
    FILE* breach = std::fopen("/tmp/shell_str_breach", "r");
    EXPECT_EQ(breach, nullptr);
    if (breach)
        std::fclose(breach);
}

TEST(StepFailure, TheRowOfTheLineOrItsFirstWordGivesTheErrorLine)
{
    const TProgram& start = programs::prepare_start;
    const TValues cfg = {{"CFGDIR", "/c"}};
    const struct {
        const TProgram& program;
        std::string out, err;
        TValues values;
        TCode code;
        std::string message, step;
    } cases[] = {
        {start, "same-dir\n", "", {}, TCode::remote, "Configuration directory must not be the server directory", "same-dir"},
        {start, "same-dir inside\n", "", {}, TCode::remote,
         "Configuration directory must not be inside the server directory", "same-dir"},
        {start, "x\nport 80\n", "", {}, TCode::remote, "Port 80 using already other proces", "port"},
        {start, "installing /a b\n", "", {}, TCode::busy, "Install already running in /a b", ""},
        {start, "set sv.x\n", "no room", cfg, TCode::remote,
         "Set option 'sv.x' failed in /c/settings/serversettings.con: no room", "set"},
        {start, "root\n", "", {}, TCode::root_refused, "Not for root: log in as the game server's account", ""},
        {start, "x\nlost\n", "", {}, TCode::remote, "Remote script failed with status 1: lost", "lost"},
        {start, "", "gone", {}, TCode::remote, "Remote script failed with status 1: gone", "script"},
        {programs::upload, "scp\n", "full", {{"cut", "Failed to copy content"}}, TCode::remote,
         "Failed to copy content: full", "scp"},
    };
    for (const auto& c : cases) {
        TExecResult r{1, c.out, c.err};
        try {
            throw_step_failure(c.program, r, c.values);
        } catch (const TUError& e) {
            EXPECT_EQ(e.code, c.code);
            EXPECT_EQ(e.message, c.message);
            EXPECT_EQ(e.step, c.step);
        }
    }
    try {
        throw_step(programs::fetch_file, "size", {{"FROM", "/f"}, {"max", "9"}});
    } catch (const TUError& e) {
        EXPECT_EQ(e.message, "Remote file /f is larger than 9 bytes");
        EXPECT_EQ(e.step, "size");
    }
}
