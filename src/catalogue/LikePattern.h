#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <vector>

// The pattern of a "like" comparison over narrow (UTF-8) text: "%" matches any run of characters,
// "_" exactly one character, "\" makes the next character an ordinary one, and everything else
// matches itself exactly. The pattern covers the whole text: it is anchored at both ends unless it
// starts or ends with "%". A character is a byte and the UTF-8 continuation bytes after it.
//
// Matching runs the pattern as a state machine over the text's characters, all states at once as a
// bit set (state i: the first i characters of the pattern have matched; a "%" keeps its state on any
// character). Its cost grows with the text's length only, whatever "_" and "%" the pattern holds: one
// step per character over the 64-bit words of states that can still reach the end, which for a
// pattern of up to 255 characters are at most four.
class TLikePattern {
  public:
    explicit TLikePattern(const QByteArray& pattern = {});

    bool Matches(QByteArrayView text) const;

  private:
    using TWord = quint64;
    static constexpr int WordBits = 64;

    // An ordinary character of more than one byte, with the states it lets advance.
    struct TWideCharacter {
        QByteArray Bytes;
        std::vector<TWord> Advances;
    };

    // The states the character at data[*at] lets advance; moves *at past it. words: FWords, from the
    // caller's local copy.
    const TWord* AdvancesAt(qsizetype words, const char* data, qsizetype size, qsizetype* at) const;
    const TWord* AdvancesOn(QByteArrayView character) const;

    // Where the reading of a text stands.
    struct TScan {
        const char* Data;
        qsizetype Size;
        qsizetype At = 0;   // bytes read
        qsizetype Read = 0; // characters read
    };
    // The words first to last of the states, stepped while the characters read stay below readLimit
    // and the bytes read below atLimit.
    struct TSpan {
        qsizetype First = 0;
        qsizetype Last = 0;
        qsizetype ReadLimit = 0;
        qsizetype AtLimit = 0;
    };
    enum class TOutcome { Running, Matched, Failed };

    TWord FinalBit() const { return TWord(1) << (FCharacters % WordBits); }
    template <typename TStates>
    static TWord StepWords(TStates&& states, const TWord* advances, const TWord* stays, qsizetype span);
    // FixedSpan: the span's width in words when known at compile time, else 0.
    template <qsizetype FixedSpan> TOutcome StepSpan(TScan& scan, const TSpan& span, TWord* states) const;

    qsizetype FCharacters = 0; // characters of text the pattern consumes: the final state's number
    qsizetype FWords = 1;
    // The states a "%" keeps on any character.
    std::vector<TWord> FStays;
    // For each byte that is a character of its own, FWords words: bit i+1 when the pattern's
    // character i is "_" or that byte.
    std::vector<TWord> FByteAdvances;
    // Bit i+1 for every "_": how the characters not named in the pattern advance.
    std::vector<TWord> FAnyAdvances;
    std::vector<TWideCharacter> FWideCharacters;
};
