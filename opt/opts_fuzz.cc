// Arbitrary bytes as a command line: the first byte picks how the vector is
// passed, the rest is split on NUL into words. Every word then also drives one
// session operation, so lookups hit both present and absent options.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "opt/opts.h"
#include "opt/parsing.h"

using zelto::TError;
using zelto::opt::TOParsing;
using zelto::opt::TOpts;

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

// Positions must point at their own words, and the keys at the names.
void check_tables(const TOpts& o)
{
    for (const auto& [name, rec] : o.lopts()) {
        check(rec.name == name);
        check(rec.pos >= o.words_begin() && rec.pos < o.words_end());
        check(rec.pos->compare(0, 2 + name.size(), "--" + name) == 0);
    }
    for (const auto& [c, rec] : o.sopts()) {
        check(rec.name == c);
        check(rec.pos >= o.words_begin() && rec.pos < o.words_end());
        check(rec.pos->find(c, 1) != std::string::npos);
    }
}

bool handler(TOParsing s)
{
    s("login", zelto::opt::opt_arg);
    s.clear();
    s.end();
    return true;
}

void operate(TOParsing& p, const std::string& w, TOpts::word_iterator& pos)
{
    const unsigned char op = w.empty() ? 0 : static_cast<unsigned char>(w[0]);
    const std::string name = w.size() > 2 ? w.substr(2) : w;
    const char c = w.size() > 1 ? w[1] : 'h';
    const TOParsing::TLOptType kinds[] = {zelto::opt::no_arg, zelto::opt::opt_arg,
                                          zelto::opt::req_arg};
    switch (op % 10) {
    case 0: {
        auto r = p(name, kinds[op / 10 % 3]);
        check(r.found == (r.entry != p.opts().lopts().end()));
    } break;
    case 1:
        p(c);
        break;
    case 2:
        p(name, kinds[op / 10 % 3]), p.clear();
        break;
    case 3:
        check(p[name].found == (p.opts().lopts().count(name) == 1));
        break;
    case 4:
        p[c];
        break;
    case 5:
        p.clear();
        break;
    case 6:
        p.end();
        break;
    case 7:
        (p(name, zelto::opt::no_arg) >> handler) || (p(c) >> handler);
        break;
    case 8:
        shift(p, pos, static_cast<int>(op / 10) - 12);
        break;
    case 9: {
        auto a = p(c);
        auto b = p[name];
        check(p.state() == TOParsing::goodbit);
    } break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t mode = data[0];
    std::vector<std::string> words(1);
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == 0)
            words.emplace_back();
        else
            words.back() += static_cast<char>(data[i]);
    }
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    if (mode & 2)
        argv[(mode >> 4) % argv.size()] = nullptr;  // a hole

    const int full = static_cast<int>(words.size());
    TOpts opts = (mode & 1) ? TOpts(argv.data()) : TOpts(argv.data(), (mode & 4) ? full / 2 : full);
    check_tables(opts);
    check(opts.words_size() + 1 <= words.size());

    TOParsing p(opts);
    TOpts::word_iterator pos = opts.words_begin();
    for (const std::string& w : words) {
        try {
            operate(p, w, pos);
        } catch (const TError& e) {
            check(e.what()[0] != '\0');
        }
    }
    try {
        p.clear();
        p.end();
    } catch (const TOParsing::TPError&) {
    }
    try {
        if (opts.words_size() > 0)
            opts.word(opts.words_size());
        opts.throwTOutOfRange(size);
    } catch (const TOpts::TOutOfRange& e) {
        check(std::string(e.what()).rfind(TOpts::wrong_index, 0) == 0);
    }
    return 0;
}
