// The option parsing session: lookups of the options a command accepts, with
// absent, malformed and unknown options reported through sentries and end().
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "opt/error.h"
#include "opt/handle.h"
#include "opt/opts.h"

namespace zelto::opt {

// Copies share one state, so a lookup through any copy (a handler's, a
// sentry's) counts for all of them.
//
// A reporting lookup does not throw: its result's sentry does when it dies,
// normally at the end of the statement. Every lookup therefore requires its
// option unless the caller calls clear() before the result dies.
class TOParsing {
public:
    using TState = std::uint64_t;
    using TSEntry = TOpts::TSOpts::const_iterator;
    using TLEntry = TOpts::TLOpts::const_iterator;

    enum class TLOptType : int { no_arg = 0, opt_arg = 1, req_arg = 2 };

    static constexpr TState goodbit = 0;
    static constexpr TState notfoundbit = 1;
    // Never set in the state; in the report mask it enables end()'s check.
    static constexpr TState unknbit = 2;
    static constexpr TState badbit = 4;

    static const std::string no_sopt_m;
    static const std::string no_lopt_m;
    static const std::string bad_lopt_m;
    static const std::string unkn_opt_m;

    class TSentry;
    struct TLOptPr;
    struct TSOptPr;

    class TPError;
    class TNoSOpt;
    class TNoLOpt;
    class TBadLOpt;
    class TUnknSOpt;
    class TUnknLOpt;

    explicit TOParsing(const TOpts& opts);
    TOParsing(char** argv, int argc);

    // Reporting lookups: an absent option, or a long option whose value breaks
    // its kind, is thrown by the result's sentry.
    TLOptPr operator()(const std::string& name, TLOptType type);
    TSOptPr operator()(char c);
    // Non-reporting lookups: mark a present option as known, require nothing.
    TLOptPr operator[](const std::string& name);
    TSOptPr operator[](char c);

    // Re-checks the last lookup, then reports the first option on the command
    // line that no lookup has accepted since the last successful end().
    void end();
    // Makes the last lookup optional.
    void clear() { rep_->state = goodbit; }

    static bool chk_on_no_arg(TLEntry entry) { return entry->second.value.empty(); }
    static bool chk_on_req_arg(TLEntry entry) { return !entry->second.value.empty(); }

    const TOpts& opts() const { return rep_->opts; }
    TState state() const { return rep_->state; }
    TState report_mask() const { return rep_->report_mask; }

private:
    struct TRep {
        explicit TRep(const TOpts& o) : opts(o), bad_entry(opts.lopts().end()) {}

        TOpts opts;
        TState state = goodbit;
        bool pending = false;
        TState report_mask = notfoundbit | unknbit | badbit;
        int missing_kind = 0;  // 0: short, 1: long
        char missing_char = 0;
        std::string missing_name;
        TLEntry bad_entry;
        std::set<char> looked_sopts;
        std::set<std::string> looked_lopts;
    };

    Handle<TRep> rep_;
};

inline constexpr TOParsing::TLOptType no_arg = TOParsing::TLOptType::no_arg;
inline constexpr TOParsing::TLOptType opt_arg = TOParsing::TLOptType::opt_arg;
inline constexpr TOParsing::TLOptType req_arg = TOParsing::TLOptType::req_arg;

// Checks the session's last lookup when it dies, if nothing checked it yet.
class TOParsing::TSentry {
public:
    explicit TSentry(const TOParsing& session) : session_(session) {}
    // Throws the pending failure; see TOParsing. While another exception is
    // propagating it stays silent and leaves the failure pending for end().
    ~TSentry() noexcept(false);

    const TOParsing& session() const { return session_; }

private:
    TOParsing session_;
};

struct TOParsing::TLOptPr {
    TLOptPr(const TOParsing& session, bool found, TLEntry entry);

    TLEntry entry;  // the table's end when not found
    bool found;
    TSentry sentry;
};

struct TOParsing::TSOptPr {
    TSOptPr(const TOParsing& session, bool found, TSEntry entry);

    TSEntry entry;  // the table's end when not found
    bool found;
    TSentry sentry;
};

class TOParsing::TPError : public TError {
public:
    TPError(std::string message, std::string name)
        : TError(std::move(message)), name_(std::move(name))
    {
    }
    // The option the error is about, without its dashes.
    const std::string& about() const { return name_; }

private:
    std::string name_;
};

class TOParsing::TNoSOpt : public TPError {
public:
    explicit TNoSOpt(char c);
    char option() const { return c_; }

private:
    char c_;
};

class TOParsing::TNoLOpt : public TPError {
public:
    explicit TNoLOpt(const std::string& name);
    const std::string& name() const { return name_; }

private:
    std::string name_;
};

// The entries below point into the argument vector's tables, valid while
// some copy of it lives.
class TOParsing::TBadLOpt : public TPError {
public:
    explicit TBadLOpt(TLEntry entry);
    TLEntry entry() const { return entry_; }

private:
    TLEntry entry_;
};

class TOParsing::TUnknSOpt : public TPError {
public:
    explicit TUnknSOpt(TSEntry entry);
    TSEntry entry() const { return entry_; }

private:
    TSEntry entry_;
};

class TOParsing::TUnknLOpt : public TPError {
public:
    explicit TUnknLOpt(TLEntry entry);
    TLEntry entry() const { return entry_; }

private:
    TLEntry entry_;
};

// Runs the handler at once, with the result's session, when the option was
// found; false otherwise. The driver's command table dispatches through these.
bool operator>>(const TOParsing::TLOptPr& result, bool (*handler)(TOParsing));
bool operator>>(const TOParsing::TSOptPr& result, bool (*handler)(TOParsing));

// Steps a position in the session's word list by n words; false when the
// position is, or lands on, the end. A step that would leave the list is
// refused: false, position unchanged.
bool shift(TOParsing session, TOpts::word_iterator& pos, int n);

}  // namespace zelto::opt
