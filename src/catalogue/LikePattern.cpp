#include "catalogue/LikePattern.h"

#include "core/Text.h"

#include <QVarLengthArray>

#include <algorithm>
#include <array>
#include <optional>

namespace {

// Length in bytes of the character that starts at data[at]: the byte and the continuation bytes after it.
qsizetype CharacterLength(const char* data, qsizetype size, qsizetype at) {
    qsizetype next = at + 1;
    while (next < size && IsContinuationByte(data[next]))
        ++next;
    return next - at;
}

} // namespace

TLikePattern::TLikePattern(const QByteArray& pattern) {
    // The pattern's characters in order: an ordinary character's bytes, or nothing for "_".
    std::vector<std::optional<QByteArrayView>> characters;
    std::vector<qsizetype> stays;
    qsizetype at = 0;
    while (at < pattern.size()) {
        const char c = pattern[at];
        if (c == '%') {
            stays.push_back(qsizetype(characters.size()));
            ++at;
            continue;
        }
        if (c == '_') {
            characters.emplace_back();
            ++at;
            continue;
        }
        // The backslash matches nothing itself; at the very end it has nothing to make ordinary, so
        // it leaves the pattern as it was, a "%" before it included.
        if (c == '\\' && ++at == pattern.size())
            break;
        const qsizetype length = CharacterLength(pattern.constData(), pattern.size(), at);
        characters.emplace_back(QByteArrayView(pattern.constData() + at, length));
        at += length;
    }

    FCharacters = qsizetype(characters.size());
    FWords = FCharacters / WordBits + 1;
    auto setBit = [](TWord* words, qsizetype state) {
        words[state / WordBits] |= TWord(1) << (state % WordBits);
    };
    FStays.assign(FWords, 0);
    for (qsizetype state : stays)
        setBit(FStays.data(), state);
    FAnyAdvances.assign(FWords, 0);
    for (qsizetype i = 0; i < FCharacters; ++i) {
        if (!characters[i])
            setBit(FAnyAdvances.data(), i + 1);
    }

    // A character named in the pattern advances the states its "_" advance as well.
    FByteAdvances.resize(256 * FWords);
    for (int byte = 0; byte < 256; ++byte)
        std::copy(FAnyAdvances.begin(), FAnyAdvances.end(), FByteAdvances.begin() + byte * FWords);
    for (qsizetype i = 0; i < FCharacters; ++i) {
        if (!characters[i])
            continue;
        const QByteArrayView bytes = *characters[i];
        if (bytes.size() == 1) {
            setBit(&FByteAdvances[static_cast<unsigned char>(bytes[0]) * FWords], i + 1);
            continue;
        }
        auto wide = std::find_if(FWideCharacters.begin(), FWideCharacters.end(),
                                 [&](const TWideCharacter& known) { return known.Bytes == bytes; });
        if (wide == FWideCharacters.end())
            wide = FWideCharacters.insert(FWideCharacters.end(), {bytes.toByteArray(), FAnyAdvances});
        setBit(wide->Advances.data(), i + 1);
    }
}

const TLikePattern::TWord* TLikePattern::AdvancesOn(QByteArrayView character) const {
    for (const TWideCharacter& wide : FWideCharacters) {
        if (wide.Bytes == character)
            return wide.Advances.data();
    }
    return FAnyAdvances.data();
}

// Kept small so that the loops take it in: a byte that is a character of its own is one look-up.
inline const TLikePattern::TWord* TLikePattern::AdvancesAt(qsizetype words, const char* data, qsizetype size,
                                                           qsizetype* at) const {
    const qsizetype start = (*at)++;
    if (*at == size || !IsContinuationByte(data[*at]))
        return &FByteAdvances[static_cast<unsigned char>(data[start]) * words];
    *at = start + CharacterLength(data, size, start);
    return AdvancesOn(QByteArrayView(data + start, *at - start));
}

// One character's step over the words of a span of states; carries nothing in from the word below
// the span. Returns the live states or'ed together.
template <typename TStates>
inline TLikePattern::TWord TLikePattern::StepWords(TStates&& states, const TWord* advances,
                                                   const TWord* stays, qsizetype span) {
    TWord carry = 0;
    TWord live = 0;
    for (qsizetype w = 0; w < span; ++w) {
        const TWord current = states[w];
        states[w] = (((current << 1) | carry) & advances[w]) | (current & stays[w]);
        carry = current >> (WordBits - 1);
        live |= states[w];
    }
    return live;
}

template <qsizetype FixedSpan>
TLikePattern::TOutcome TLikePattern::StepSpan(TScan& scan, const TSpan& span, TWord* states) const {
    // What the loop reads lives in locals: a store to the states (unsigned 64-bit words) may alias any
    // signed 64-bit member, so the loop would read members again after every step.
    const qsizetype first = span.First;
    const qsizetype words = FixedSpan > 0 ? FixedSpan : span.Last - first + 1;
    const qsizetype readLimit = span.ReadLimit;
    const qsizetype atLimit = std::min(scan.Size, span.AtLimit);
    const qsizetype stride = FWords;
    const TWord* stays = FStays.data() + first;
    const TWord finalBit = FinalBit();
    const bool watchFinal = span.Last == FCharacters / WordBits && (FStays[span.Last] & finalBit) != 0;
    const char* data = scan.Data;
    const qsizetype size = scan.Size;
    qsizetype at = scan.At;
    qsizetype read = scan.Read;

    // A span of known width is stepped in registers.
    std::array<TWord, std::max<qsizetype>(FixedSpan, 1)> kept;
    if constexpr (FixedSpan > 0)
        std::copy_n(states + first, FixedSpan, kept.begin());
    TOutcome outcome = TOutcome::Running;
    while (at < atLimit && read < readLimit) {
        const TWord* advances = AdvancesAt(stride, data, size, &at) + first;
        ++read;
        TWord live = 0;
        if constexpr (FixedSpan > 0)
            live = StepWords(kept, advances, stays, FixedSpan);
        else
            live = StepWords(states + first, advances, stays, words);
        if (live == 0) {
            outcome = TOutcome::Failed;
            break;
        }
        const TWord top = FixedSpan > 0 ? kept[words - 1] : states[first + words - 1];
        if (watchFinal && (top & finalBit) != 0) {
            outcome = TOutcome::Matched;
            break;
        }
    }
    scan.At = at;
    scan.Read = read;
    if constexpr (FixedSpan > 0)
        std::copy_n(kept.begin(), FixedSpan, states + first);
    return outcome;
}

bool TLikePattern::Matches(QByteArrayView text) const {
    QVarLengthArray<TWord, 4> states(FWords, 0);
    states[0] = 1;
    const qsizetype finalWord = FCharacters / WordBits;
    TScan scan{text.data(), text.size()};

    // The text is read in spans of characters over which the same words can hold a live state. No
    // state beyond the characters read is reached yet, and a state further from the end than bytes
    // remain after the next character can never reach it. Words below the span are left behind with
    // what is in them, never read again; words above it are still empty.
    while (scan.At < scan.Size) {
        const qsizetype lowestUseful = FCharacters - scan.Size + scan.At;
        TSpan span;
        span.First = std::max<qsizetype>(lowestUseful, 0) / WordBits;
        span.Last = std::min(finalWord, (scan.Read + 1) / WordBits);
        if (span.First > span.Last)
            return false;
        span.ReadLimit = span.Last == finalWord ? scan.Size : (span.Last + 1) * WordBits - 1;
        span.AtLimit =
            span.First == span.Last ? scan.Size : (span.First + 1) * WordBits + scan.Size - FCharacters;
        TOutcome outcome = TOutcome::Running;
        switch (span.Last - span.First + 1) {
        case 1:
            outcome = StepSpan<1>(scan, span, states.data());
            break;
        case 2:
            outcome = StepSpan<2>(scan, span, states.data());
            break;
        case 3:
            outcome = StepSpan<3>(scan, span, states.data());
            break;
        default:
            outcome = StepSpan<0>(scan, span, states.data());
            break;
        }
        if (outcome != TOutcome::Running)
            return outcome == TOutcome::Matched;
    }
    return (states[finalWord] & FinalBit()) != 0;
}
