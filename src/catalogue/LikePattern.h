#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <vector>

// The pattern of a "like" comparison over narrow (UTF-8) text: "%" matches any run of characters,
// "_" exactly one character, "\" makes the next character an ordinary one, and everything else
// matches itself exactly. The pattern covers the whole text: it is anchored at both ends unless it
// starts or ends with "%".
//
// Matching takes the pieces between the "%" signs one after another, each at its leftmost place, so
// its cost grows with the text times the pattern, however many "%" the pattern holds.
class TLikePattern {
  public:
    explicit TLikePattern(const QByteArray& pattern = {});

    bool Matches(QByteArrayView text) const;

  private:
    // One step of a piece: any single character, or a run of ordinary characters compared bytewise.
    struct TStep {
        bool anyCharacter = false;
        QByteArray literal;
    };
    struct TPiece {
        std::vector<TStep> steps;
        qsizetype characters = 0;
    };

    static bool MatchPieceAt(const TPiece& piece, QByteArrayView text, qsizetype start, qsizetype* end);
    static bool FindPiece(const TPiece& piece, QByteArrayView text, qsizetype from, qsizetype* end);

    std::vector<TPiece> pieces_;
    bool anchoredAtStart_ = true;
    bool anchoredAtEnd_ = true;
};
