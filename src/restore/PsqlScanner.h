#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Reads SQL text block by block where psql splits it: which bytes are words, strings, quoted names,
// comments, backslash commands or COPY data, and at which semicolons psql sends a query. It follows
// psql's own reading (as psql 15 does it) wherever that decides whether a backslash command runs:
// nested /* */ comments, -- comments that end at a carriage return too, '' and "" doubled, E'' strings
// with backslash escapes (and '' strings too while standard_conforming_strings is off), dollar quoting
// with its tag rules, parentheses and CREATE FUNCTION ... BEGIN ATOMIC bodies, at whose semicolons
// psql sends no query. Where psql versions cut a number and a quote or "$" apart differently, the text
// is told to be unclear. Memory stays small whatever the text: nothing is kept beyond the start of the
// current line and the first bytes of each token.
class TPsqlScanner {
  public:
    enum class TTokenKind { Word, Number, String, QuotedName, Symbol };
    // Valid during the call that tells it.
    struct TToken {
        TTokenKind Kind = TTokenKind::Symbol;
        QByteArrayView Text; // a word in lower case, a string's content, a symbol's byte; the first 64 bytes
        qint64 Line = 0;     // where the token starts, from 1
        qsizetype Column = 0;
    };

    // Told what the text holds, in order.
    class TListener {
      public:
        virtual ~TListener() = default;
        virtual void Token(const TToken& token) = 0;
        // A semicolon outside strings and comments: the server ends a statement at every one; psql sends
        // the query up to here when psqlSends is true.
        virtual void Semicolon(bool psqlSends) = 0;
        // A backslash command psql runs, by its name ("connect" for \connect), at its backslash.
        virtual void BackslashCommand(const QByteArray& name, qint64 line, qsizetype column) = 0;
        // Text that psql versions read differently, so what psql runs there cannot be told.
        virtual void Unclear(qint64 line, qsizetype column) = 0;
        // Every line at its end, without its newline (at most its first LineStart bytes).
        virtual void LineEnds(qint64 line, QByteArrayView lineStart) = 0;
    };

    static constexpr qsizetype LineStart = 200;

    explicit TPsqlScanner(TListener& listener)
        : FListener(listener) {}

    void Take(QByteArrayView bytes);
    // The text has ended: what psql still runs of its last line, without a newline, is told too.
    void Finish();

    // psql reads the lines after the query it has just sent as COPY data, up to a line "\.".
    void CopyDataFollows() { ++FCopiesPending; }
    // Whether '' strings take backslash escapes (standard_conforming_strings off); psql reads the next
    // line so, not the rest of this one.
    void SetStandardStrings(bool standard) { FNextStandardStrings = standard; }

    qint64 Line() const { return FLine; }

  private:
    enum class TState {
        Normal,
        Word,
        Minus,
        Slash,
        LineComment,
        BlockComment,
        BlockStar,
        BlockSlash,
        Quote,
        QuoteEscape,
        QuoteEnd,
        Name,
        NameEnd,
        DollarOpen,
        DollarBody,
        DollarClose,
        CommandName,
        CommandArguments,
        CopyData
    };

    void Feed(char c);
    bool Step(char c);
    bool StepNormal(char c);
    bool StepWord(char c);
    bool StepDollar(char c);
    qsizetype SkipCopyData(QByteArrayView bytes, qsizetype from);
    void EndLine();

    void StartToken(TTokenKind kind, qsizetype column);
    void AddToToken(char c);
    void EndToken();
    void OpenQuote(bool escapes);
    void CountIdentifier(QByteArrayView word);
    void Semicolon();

    TListener& FListener;
    TState FState = TState::Normal;
    static constexpr qsizetype TokenText = 64;

    // Plain arrays: these change with every byte.
    qint64 FLine = 1;
    char FLineStart[LineStart];
    qsizetype FColumn = 0;

    char FRecent[3] = {'\n', '\n', '\n'}; // the last bytes read, the latest first

    TTokenKind FTokenKind = TTokenKind::Symbol;
    char FTokenText[TokenText];
    qsizetype FTokenSize = 0;
    qint64 FTokenLine = 0;
    qsizetype FTokenColumn = 0;
    bool FWordAfterDot = false; // the word began right after a "."

    bool FQuoteEscapes = false;
    bool FStandardStrings = true;
    bool FNextStandardStrings = true;

    int FCommentDepth = 0;
    QByteArray FDollarTag;
    qsizetype FDollarColumn = 0;
    QByteArray FCandidate; // what may be the closing tag, as far as it can still match
    qsizetype FCandidateLength = 0;

    QByteArray FCommandName;
    qsizetype FCommandColumn = 0;

    // psql's own reckoning of where a query ends: parentheses, and the BEGIN ... END depth of a
    // CREATE [OR REPLACE] FUNCTION or PROCEDURE, judged by the first letters of its first four words.
    int FParenDepth = 0;
    int FBeginDepth = 0;
    int FIdentifierCount = 0;
    char FIdentifiers[4] = {};

    int FCopiesPending = 0;
    TState FResumeState = TState::Normal;
    // The first bytes of the current COPY data line: five tell "\." and "\.\r" from every longer line.
    char FCopyLine[5];
    qsizetype FCopyLineSize = 0;
};
