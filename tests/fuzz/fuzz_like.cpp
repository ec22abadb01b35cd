// The like matcher against a plain reference: the input is a pattern, a NUL byte and a text, both cut
// to the lengths the catalogue sees. The reference splits both into characters (a byte and the UTF-8
// continuation bytes after it) and matches them by dynamic programming over the pattern's tokens.
#include "catalogue/LikePattern.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

bool IsContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

std::vector<QByteArrayView> Characters(QByteArrayView text) {
    std::vector<QByteArrayView> characters;
    qsizetype at = 0;
    while (at < text.size()) {
        qsizetype next = at + 1;
        while (next < text.size() && IsContinuation(text[next]))
            ++next;
        characters.push_back(text.sliced(at, next - at));
        at = next;
    }
    return characters;
}

struct TToken {
    enum TKind { Any, One, Exact } kind;
    QByteArrayView Character;
};

std::vector<TToken> Tokens(QByteArrayView pattern) {
    std::vector<TToken> tokens;
    qsizetype at = 0;
    while (at < pattern.size()) {
        const char c = pattern[at];
        if (c == '%' || c == '_') {
            tokens.push_back({c == '%' ? TToken::Any : TToken::One, {}});
            ++at;
            continue;
        }
        if (c == '\\' && ++at == pattern.size())
            break;
        qsizetype next = at + 1;
        while (next < pattern.size() && IsContinuation(pattern[next]))
            ++next;
        tokens.push_back({TToken::Exact, pattern.sliced(at, next - at)});
        at = next;
    }
    return tokens;
}

bool ReferenceMatches(QByteArrayView pattern, QByteArrayView text) {
    const std::vector<TToken> tokens = Tokens(pattern);
    const std::vector<QByteArrayView> characters = Characters(text);
    // matched[j]: the tokens so far match the first j characters.
    std::vector<bool> matched(characters.size() + 1, false);
    matched[0] = true;
    for (const TToken& token : tokens) {
        std::vector<bool> next(characters.size() + 1, false);
        for (size_t j = 0; j <= characters.size(); ++j) {
            if (token.kind == TToken::Any)
                next[j] = matched[j] || (j > 0 && next[j - 1]);
            else if (j > 0)
                next[j] =
                    matched[j - 1] && (token.kind == TToken::One || characters[j - 1] == token.Character);
        }
        matched = std::move(next);
    }
    return matched[characters.size()];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView input(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype split = input.indexOf('\0');
    if (split < 0 || split > 255 || input.size() - split - 1 > 1024)
        return 0;
    const QByteArray pattern = input.first(split).toByteArray();
    const QByteArrayView text = input.sliced(split + 1);
    if (TLikePattern(pattern).Matches(text) != ReferenceMatches(pattern, text))
        std::abort();
    return 0;
}
