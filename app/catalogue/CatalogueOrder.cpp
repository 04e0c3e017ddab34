#include "Catalogue.h"

#include <QChar>

#include <algorithm>
#include <numeric>

namespace velk {
namespace {

// One code point from p (advanced past it). A byte that does not start a valid sequence stands
// for itself as U+DC80..U+DCFF, a range no valid UTF-8 text decodes to.
char32_t NextCodePoint(const unsigned char*& p, const unsigned char* end) {
    const unsigned char lead = *p;
    if (lead < 0x80) {
        ++p;
        return lead;
    }
    int length = 0;
    char32_t low = 0;
    if ((lead & 0xE0) == 0xC0)
        length = 2, low = 0x80;
    else if ((lead & 0xF0) == 0xE0)
        length = 3, low = 0x800;
    else if ((lead & 0xF8) == 0xF0)
        length = 4, low = 0x10000;
    if (length != 0 && end - p >= length) {
        char32_t code = lead & (0x7F >> length);
        int i = 1;
        for (; i < length && (p[i] & 0xC0) == 0x80; ++i)
            code = (code << 6) | (p[i] & 0x3F);
        if (i == length && code >= low && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF)) {
            p += length;
            return code;
        }
    }
    ++p;
    return 0xDC00 + lead;
}

char32_t Folded(char32_t code) {
    if (code < 0x80) return (code >= 'A' && code <= 'Z') ? code + ('a' - 'A') : code;
    return QChar::toCaseFolded(code);
}

// Plain UTF-8 encoding, applied to U+DC80..U+DCFF as well: the byte order of the result is the
// order of the code points.
void AppendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

} // namespace

int CompareEntries(std::string_view a, std::string_view b) {
    auto pa = reinterpret_cast<const unsigned char*>(a.data());
    auto pb = reinterpret_cast<const unsigned char*>(b.data());
    const auto endA = pa + a.size();
    const auto endB = pb + b.size();
    while (pa < endA && pb < endB) {
        const char32_t ca = Folded(NextCodePoint(pa, endA));
        const char32_t cb = Folded(NextCodePoint(pb, endB));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (pa < endA) return 1;
    if (pb < endB) return -1;
    return 0;
}

std::string CaseFoldKey(std::string_view text) {
    std::string key;
    key.reserve(text.size());
    auto p = reinterpret_cast<const unsigned char*>(text.data());
    const auto end = p + text.size();
    while (p < end)
        AppendUtf8(key, Folded(NextCodePoint(p, end)));
    return key;
}

std::vector<std::size_t> StableOrder(const std::vector<std::string>& entries) {
    // Folding once per entry instead of once per comparison; the keys' byte order is
    // CompareEntries' order, and the stable sort keeps equal entries in collection order, which
    // is where neighbour swaps on "greater" leave them too.
    std::vector<std::string> keys;
    keys.reserve(entries.size());
    for (const auto& entry : entries)
        keys.push_back(CaseFoldKey(entry));
    std::vector<std::size_t> order(entries.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&keys](std::size_t x, std::size_t y) { return keys[x] < keys[y]; });
    return order;
}

std::string EntryText(std::string_view name, std::int64_t fileSize) {
    std::string text(name);
    text += '/';
    text += std::to_string(fileSize);
    return text;
}

} // namespace velk
