#include "catalogue/LikePattern.h"

#include "core/Text.h"

#include <cstring>

namespace {

// Length in bytes of the UTF-8 character that starts at text[at].
qsizetype CharacterLength(QByteArrayView text, qsizetype at) {
    qsizetype next = at + 1;
    while (next < text.size() && IsContinuationByte(text[next]))
        ++next;
    return next - at;
}

} // namespace

TLikePattern::TLikePattern(const QByteArray& pattern) {
    TPiece piece;
    auto endPiece = [&] {
        if (!piece.steps.empty())
            pieces_.push_back(std::move(piece));
        piece = {};
    };
    auto addCharacter = [&](const char* bytes, qsizetype length) {
        if (piece.steps.empty() || piece.steps.back().anyCharacter)
            piece.steps.push_back({});
        piece.steps.back().literal.append(bytes, length);
        ++piece.characters;
    };

    anchoredAtStart_ = !pattern.startsWith('%');
    qsizetype at = 0;
    while (at < pattern.size()) {
        const char c = pattern[at];
        if (c == '%') {
            endPiece();
            anchoredAtEnd_ = false;
            ++at;
            continue;
        }
        if (c == '\\') {
            // The backslash matches nothing itself; at the very end it has nothing to make ordinary,
            // so it leaves the pattern as it was, a "%" before it included.
            ++at;
            if (at == pattern.size())
                break;
        }
        anchoredAtEnd_ = true;
        if (c == '_') {
            piece.steps.push_back({true, {}});
            ++piece.characters;
            ++at;
            continue;
        }
        const qsizetype length = CharacterLength(pattern, at);
        addCharacter(pattern.constData() + at, length);
        at += length;
    }
    endPiece();
}

bool TLikePattern::MatchPieceAt(const TPiece& piece, QByteArrayView text, qsizetype start, qsizetype* end) {
    qsizetype at = start;
    for (const TStep& step : piece.steps) {
        if (step.anyCharacter) {
            if (at >= text.size())
                return false;
            at += CharacterLength(text, at);
            continue;
        }
        const qsizetype length = step.literal.size();
        if (text.size() - at < length || memcmp(text.data() + at, step.literal.constData(), length) != 0)
            return false;
        at += length;
    }
    *end = at;
    return true;
}

bool TLikePattern::FindPiece(const TPiece& piece, QByteArrayView text, qsizetype from, qsizetype* end) {
    const TStep& head = piece.steps.front();
    if (!head.anyCharacter) {
        // Only places where the leading run occurs can start the piece. A run starts with a lead
        // byte, which never equals a continuation byte, so each place is a character boundary.
        for (qsizetype start = text.indexOf(head.literal, from); start >= 0;
             start = text.indexOf(head.literal, start + 1)) {
            if (MatchPieceAt(piece, text, start, end))
                return true;
        }
        return false;
    }
    for (qsizetype start = from; start < text.size(); start += CharacterLength(text, start)) {
        if (MatchPieceAt(piece, text, start, end))
            return true;
    }
    return false;
}

bool TLikePattern::Matches(QByteArrayView text) const {
    if (pieces_.empty())
        return !(anchoredAtStart_ && anchoredAtEnd_) || text.isEmpty();

    qsizetype at = 0;
    size_t first = 0;
    size_t last = pieces_.size();
    if (anchoredAtStart_) {
        if (!MatchPieceAt(pieces_.front(), text, 0, &at))
            return false;
        first = 1;
        if (pieces_.size() == 1 && anchoredAtEnd_)
            return at == text.size();
    }
    if (anchoredAtEnd_)
        last = pieces_.size() - 1;
    for (size_t i = first; i < last; ++i) {
        if (!FindPiece(pieces_[i], text, at, &at))
            return false;
    }
    if (!anchoredAtEnd_)
        return true;

    // The last piece must end exactly at the end of the text: it starts as many characters back as
    // it matches, and not before the text already taken by the earlier pieces.
    const TPiece& tail = pieces_.back();
    qsizetype start = text.size();
    for (qsizetype n = 0; n < tail.characters; ++n) {
        if (start <= at)
            return false;
        --start;
        while (start > at && IsContinuationByte(text[start]))
            --start;
    }
    qsizetype end = 0;
    return MatchPieceAt(tail, text, start, &end) && end == text.size();
}
