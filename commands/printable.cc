#include "commands/printable.h"

#include <cstdint>
#include <cstring>

namespace {

// The length of the valid UTF-8 sequence at the start of s, 0 for none:
// no overlong form, no surrogate, nothing past U+10FFFF.
size_t utf8_length(std::string_view s)
{
    const auto byte = [&](size_t i) { return i < s.size() ? static_cast<unsigned char>(s[i]) : 0; };
    const unsigned char c = byte(0);
    size_t n;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        low = c == 0xE0 ? 0xA0 : 0x80;
        high = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        low = c == 0xF0 ? 0x90 : 0x80;
        high = c == 0xF4 ? 0x8F : 0xBF;
    } else
        return 0;
    if (byte(1) < low || byte(1) > high)
        return 0;
    for (size_t i = 2; i < n; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return n;
}

// Whether the valid sequence seq is a control character (C0, DEL, C1) but
// tab and line break, or U+2028 or U+2029, which readers take as line ends.
bool unprintable(std::string_view seq)
{
    const auto c = static_cast<unsigned char>(seq[0]);
    if (seq.size() == 1)
        return (c < 0x20 && c != '\t' && c != '\n') || c == 0x7F;
    if (seq.size() == 2)
        return c == 0xC2 && static_cast<unsigned char>(seq[1]) < 0xA0;
    return seq == "\xE2\x80\xA8" || seq == "\xE2\x80\xA9";
}

}  // namespace

std::string printable(std::string_view text)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const size_t valid = utf8_length(text);
        const std::string_view seq = text.substr(0, valid ? valid : 1);
        if (seq == "\\")
            out += "\\\\";
        else if (!valid || unprintable(seq))
            for (const unsigned char b : seq)
                out += {'\\', 'x', hex[b >> 4], hex[b & 15]};
        else
            out += seq;
        text.remove_prefix(seq.size());
    }
    return out;
}

std::string printable_line(std::string_view text)
{
    std::string out;
    for (char c : printable(text))
        out += c == '\n' ? std::string("\\x0a") : std::string(1, c);
    return out;
}

size_t utf8_prefix(std::string_view text)
{
    size_t at = 0;
    while (at < text.size()) {
        // Eight bytes of ASCII at a time: most text is, and exec's output
        // may be 64 MiB.
        std::uint64_t eight;
        if (text.size() - at >= 8 &&
            (std::memcpy(&eight, text.data() + at, 8), (eight & 0x8080808080808080) == 0)) {
            at += 8;
            continue;
        }
        const size_t n = utf8_length(text.substr(at));
        if (n == 0)
            return at;
        at += n;
    }
    return at;
}
