#include "opt/parsing.h"

#include <exception>

namespace zelto::opt {

namespace {

// The caller guarantees the table holds more keys than the set, all of the
// set's keys being table keys, so an unseen entry exists.
template <class Table, class Seen>
typename Table::const_iterator findUnknOpt(const Table& table, const Seen& seen)
{
    auto it = table.begin();
    while (it != table.end() && seen.count(it->first) != 0)
        ++it;
    return it;
}

}  // namespace

const std::string TOParsing::no_sopt_m = "Requires short option";
const std::string TOParsing::no_lopt_m = "Requires long option";
const std::string TOParsing::bad_lopt_m = "Incorrect long option";
const std::string TOParsing::unkn_opt_m = "Unknown option";

TOParsing::TOParsing(const TOpts& opts) : rep_(new TRep(opts)) {}

TOParsing::TOParsing(char** argv, int argc) : TOParsing(TOpts(argv, argc)) {}

TOParsing::TLOptPr TOParsing::operator()(const std::string& name, TLOptType type)
{
    TRep& r = *rep_;
    r.state = goodbit;
    const TOpts::TLOpts& table = r.opts.lopts();
    TLEntry it = table.find(name);
    if (it == table.end()) {
        r.missing_kind = 1;
        r.missing_name = name;
        r.state |= notfoundbit;
        return TLOptPr(*this, false, table.end());
    }
    bool ok = true;
    if (type == TLOptType::no_arg)
        ok = chk_on_no_arg(it);
    if (type == TLOptType::req_arg)
        ok = chk_on_req_arg(it);
    if (!ok) {
        // Not accepted, so end() will also call it unknown if it gets that far.
        r.state |= badbit;
        r.bad_entry = it;
        return TLOptPr(*this, false, table.end());
    }
    r.looked_lopts.insert(name);
    return TLOptPr(*this, true, it);
}

TOParsing::TSOptPr TOParsing::operator()(char c)
{
    TRep& r = *rep_;
    r.state = goodbit;
    const TOpts::TSOpts& table = r.opts.sopts();
    TSEntry it = table.find(c);
    if (it == table.end()) {
        r.missing_kind = 0;
        r.missing_char = c;
        r.state |= notfoundbit;
        return TSOptPr(*this, false, table.end());
    }
    r.looked_sopts.insert(c);
    return TSOptPr(*this, true, it);
}

// The result's sentry watches a fresh session on the same words, which has
// nothing to report, so this session's pending lookup stays as it was.
TOParsing::TLOptPr TOParsing::operator[](const std::string& name)
{
    TRep& r = *rep_;
    r.state = goodbit;
    TLEntry it = r.opts.lopts().find(name);
    bool found = it != r.opts.lopts().end();
    if (found)
        r.looked_lopts.insert(name);
    return TLOptPr(TOParsing(r.opts), found, it);
}

TOParsing::TSOptPr TOParsing::operator[](char c)
{
    TRep& r = *rep_;
    r.state = goodbit;
    TSEntry it = r.opts.sopts().find(c);
    bool found = it != r.opts.sopts().end();
    if (found)
        r.looked_sopts.insert(c);
    return TSOptPr(TOParsing(r.opts), found, it);
}

void TOParsing::end()
{
    TRep& r = *rep_;
    r.pending = true;
    {
        TSentry flush(*this);
    }
    if (r.report_mask & unknbit) {
        const TOpts::TSOpts& stable = r.opts.sopts();
        if (stable.size() > r.looked_sopts.size())
            throw TUnknSOpt(findUnknOpt(stable, r.looked_sopts));
        const TOpts::TLOpts& ltable = r.opts.lopts();
        if (ltable.size() > r.looked_lopts.size())
            throw TUnknLOpt(findUnknOpt(ltable, r.looked_lopts));
    }
    r.looked_sopts.clear();
    r.looked_lopts.clear();
    r.state = goodbit;
}

TOParsing::TSentry::~TSentry() noexcept(false)
{
    TRep& r = *session_.rep_;
    // Throwing while unwinding would terminate the process; the failure stays
    // pending for the next sentry or end() instead.
    if (!r.pending || std::uncaught_exceptions() > 0)
        return;
    r.pending = false;
    const TState report = r.state & r.report_mask;
    // Our hold on the session is let go before throwing, so the error does not
    // keep the shared state alive on our behalf.
    if (report & notfoundbit) {
        if (r.missing_kind == 0) {
            TNoSOpt e(r.missing_char);
            session_.rep_.release();
            throw e;
        }
        TNoLOpt e(r.missing_name);
        session_.rep_.release();
        throw e;
    }
    if (report & badbit) {
        TBadLOpt e(r.bad_entry);
        session_.rep_.release();
        throw e;
    }
}

TOParsing::TLOptPr::TLOptPr(const TOParsing& session, bool found, TLEntry entry)
    : entry(entry), found(found), sentry(session)
{
    session.rep_->pending = true;
}

TOParsing::TSOptPr::TSOptPr(const TOParsing& session, bool found, TSEntry entry)
    : entry(entry), found(found), sentry(session)
{
    session.rep_->pending = true;
}

TOParsing::TNoSOpt::TNoSOpt(char c) : TPError(no_sopt_m + " '-" + c + "'", std::string(1, c)), c_(c)
{
}

TOParsing::TNoLOpt::TNoLOpt(const std::string& name)
    : TPError(no_lopt_m + " '--" + name + "'", name), name_(name)
{
}

TOParsing::TBadLOpt::TBadLOpt(TLEntry entry)
    : TPError(bad_lopt_m + " '--" + entry->first + "'", entry->first), entry_(entry)
{
}

TOParsing::TUnknSOpt::TUnknSOpt(TSEntry entry)
    : TPError(unkn_opt_m + " '-" + entry->first + "'", std::string(1, entry->first)), entry_(entry)
{
}

TOParsing::TUnknLOpt::TUnknLOpt(TLEntry entry)
    : TPError(unkn_opt_m + " '--" + entry->first + "'", entry->first), entry_(entry)
{
}

bool operator>>(const TOParsing::TLOptPr& result, bool (*handler)(TOParsing))
{
    return result.found && handler(result.sentry.session());
}

bool operator>>(const TOParsing::TSOptPr& result, bool (*handler)(TOParsing))
{
    return result.found && handler(result.sentry.session());
}

bool shift(TOParsing session, TOpts::word_iterator& pos, int n)
{
    const TOpts& opts = session.opts();
    if (pos == opts.words_end())
        return false;
    const auto target = (pos - opts.words_begin()) + n;
    if (target < 0 || target > opts.words_end() - opts.words_begin())
        return false;
    pos += n;
    return pos != opts.words_end();
}

}  // namespace zelto::opt
