#include "opt/opts.h"

#include "opt/xtos.h"

#include <cctype>

namespace zelto::opt {

namespace {

// ASCII only: the classification must not depend on the locale.
bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }

}  // namespace

const std::string TOpts::wrong_index = "Wrong index";

TOpts::TOpts(char** argv, int argc) : rep_(new TRep) { source(argv, argc); }

TOpts::TOpts(char** argv) : rep_(new TRep) { source(argv); }

const std::string& TOpts::word(unsigned long index) const
{
    if (index >= rep_->words.size())
        throwTOutOfRange(index);
    return rep_->words[index];
}

void TOpts::throwTOutOfRange(unsigned long index) const
{
    throw TOutOfRange(wrong_index + " (index = " + xtos<unsigned long>(index) + ")", *this, index);
}

// The tables point into the word list, so room for every word is reserved
// before the first one is stored: the list must never move.
void TOpts::source(char** argv, int argc)
{
    if (argc < 1 || argv == nullptr || argv[0] == nullptr)
        return;
    rep_->prog_name = argv[0];
    rep_->words.reserve(static_cast<TWords::size_type>(argc) - 1);
    for (int i = 1; i < argc && argv[i] != nullptr; ++i)
        bush_back(argv[i]);
}

void TOpts::source(char** argv)
{
    if (argv == nullptr || argv[0] == nullptr)
        return;
    rep_->prog_name = argv[0];
    TWords::size_type n = 0;
    while (argv[n + 1] != nullptr)
        ++n;
    rep_->words.reserve(n);
    for (TWords::size_type i = 1; i <= n; ++i)
        bush_back(argv[i]);
}

bool TOpts::bush_back(std::string word)
{
    rep_->words.push_back(std::move(word));
    word_iterator pos = rep_->words.cend() - 1;
    return parseLongOpt(pos) || parseShortOpt(pos);
}

bool TOpts::parseLongOpt(word_iterator word)
{
    const std::string& w = *word;
    if (w.size() < 3 || w[0] != '-' || w[1] != '-' || !is_letter(w[2]))
        return false;
    std::string::size_type i = 3;
    // A name begins with a letter; digits may follow (--sha256).
    while (i < w.size() &&
           (is_letter(w[i]) || std::isdigit(static_cast<unsigned char>(w[i])) || w[i] == '-'))
        ++i;
    // Values only ever follow '=' in the same word; anything else that ends
    // the name (--a.b) makes the word a plain one.
    if (i < w.size() && w[i] != '=')
        return false;
    std::string name = w.substr(2, i - 2);
    TLOpt& rec = rep_->lopts[name];
    rec.name = std::move(name);
    rec.value = i < w.size() ? w.substr(i + 1) : std::string();
    rec.pos = word;
    return true;
}

bool TOpts::parseShortOpt(word_iterator word)
{
    const std::string& w = *word;
    if (w.size() < 2 || w[0] != '-')
        return false;
    for (std::string::size_type i = 1; i < w.size(); ++i)
        if (!is_letter(w[i]))
            return false;
    for (std::string::size_type i = 1; i < w.size(); ++i) {
        TSOpt& rec = rep_->sopts[w[i]];
        rec.name = w[i];
        rec.pos = word;
    }
    return true;
}

}  // namespace zelto::opt
