// The argument vector: program name, every word in order, and the tables of
// the short and long options found among the words.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "opt/error.h"
#include "opt/handle.h"

namespace zelto::opt {

struct TSOpt {
    char name;
    std::vector<std::string>::const_iterator pos;  // word of the last occurrence
};

struct TLOpt {
    std::string name;
    std::string value;  // text after the first '='; empty and absent are alike
    std::vector<std::string>::const_iterator pos;  // word of the last occurrence
};

// Records whatever has the syntax of an option (--name, --name=value, -abc);
// which options exist or are required is the parsing session's business.
// Copies share one representation.
class TOpts {
public:
    using TWords = std::vector<std::string>;
    using word_iterator = TWords::const_iterator;
    using TSOpts = std::map<char, TSOpt>;
    using TLOpts = std::map<std::string, TLOpt>;

    class TOptsError;
    class TOutOfRange;

    static const std::string wrong_index;

    // Note the order: vector first, count second.
    TOpts(char** argv, int argc);
    // For a null-terminated vector.
    explicit TOpts(char** argv);

    const std::string& prog_name() const { return rep_->prog_name; }
    word_iterator words_begin() const { return rep_->words.cbegin(); }
    word_iterator words_end() const { return rep_->words.cend(); }
    TWords::size_type words_size() const { return rep_->words.size(); }
    // Checked access to the word list; a bad index throws TOutOfRange.
    const std::string& word(unsigned long index) const;
    const TSOpts& sopts() const { return rep_->sopts; }
    const TLOpts& lopts() const { return rep_->lopts; }

    [[noreturn]] void throwTOutOfRange(unsigned long index) const;

private:
    struct TRep {
        std::string prog_name;
        TWords words;
        TSOpts sopts;
        TLOpts lopts;
    };

    void source(char** argv, int argc);
    void source(char** argv);
    bool bush_back(std::string word);
    bool parseLongOpt(word_iterator word);
    bool parseShortOpt(word_iterator word);

    Handle<TRep> rep_;
};

class TOpts::TOptsError : public TError {
public:
    TOptsError(std::string message, const TOpts& opts) : TError(std::move(message)), opts_(opts) {}
    const TOpts& opts() const { return opts_; }

private:
    TOpts opts_;
};

class TOpts::TOutOfRange : public TOpts::TOptsError {
public:
    TOutOfRange(std::string message, const TOpts& opts, unsigned long index)
        : TOptsError(std::move(message), opts), index_(index)
    {
    }
    unsigned long index() const { return index_; }

private:
    unsigned long index_;
};

}  // namespace zelto::opt
