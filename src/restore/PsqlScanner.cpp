#include "restore/PsqlScanner.h"

#include <cstring>
#include <utility>

namespace {

// psql takes dollar tags of any length; one this long is no dump's, and ends the reading as unclear.
constexpr qsizetype LongestDollarTag = 1024;

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
// Letters, "_" and every byte of a multi-byte character start a word, as in psql.
bool IsWordStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}
bool IsWordChar(char c) {
    return IsWordStart(c) || IsDigit(c) || c == '$';
}
char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

} // namespace

void TPsqlScanner::Take(QByteArrayView bytes) {
    qsizetype at = 0;
    while (at < bytes.size()) {
        if (FState == TState::CopyData) {
            at = SkipCopyData(bytes, at);
            continue;
        }
        Feed(bytes[at]);
        ++at;
    }
}

void TPsqlScanner::Finish() {
    // psql runs the last line also without its newline.
    switch (FState) {
    case TState::Word:
        EndToken();
        break;
    case TState::CommandName:
        FListener.BackslashCommand(FCommandName, FLine, FCommandColumn);
        break;
    default:
        break;
    }
    FState = TState::Normal;
    if (FColumn > 0)
        FListener.LineEnds(FLine, QByteArrayView(FLineStart, qMin(FColumn, LineStart)));
}

void TPsqlScanner::Feed(char c) {
    while (!Step(c)) {
    }
    if (c == '\n') {
        EndLine();
    } else {
        if (FColumn < LineStart)
            FLineStart[FColumn] = c;
        ++FColumn;
    }
    FRecent[2] = FRecent[1];
    FRecent[1] = FRecent[0];
    FRecent[0] = c;
}

void TPsqlScanner::EndLine() {
    FListener.LineEnds(FLine, QByteArrayView(FLineStart, qMin(FColumn, LineStart)));
    ++FLine;
    FColumn = 0;
    FStandardStrings = FNextStandardStrings;
    if (FCopiesPending > 0) {
        FResumeState = FState;
        FState = TState::CopyData;
        FCopyLineSize = 0;
    }
}

// COPY data goes by unread, a line at a time; a line "\." (or "\.\r") ends one COPY's data, and psql
// then reads the rest of the line that sent the COPY as it would have.
qsizetype TPsqlScanner::SkipCopyData(QByteArrayView bytes, qsizetype from) {
    const char* start = bytes.data() + from;
    const auto* newline = static_cast<const char*>(std::memchr(start, '\n', size_t(bytes.size() - from)));
    const qsizetype end = newline ? newline - bytes.data() : bytes.size();
    const qsizetype kept = qMin(end - from, qsizetype(sizeof FCopyLine) - FCopyLineSize);
    std::memcpy(FCopyLine + FCopyLineSize, start, size_t(kept));
    FCopyLineSize += kept;
    if (!newline)
        return end;
    ++FLine;
    const QByteArrayView line(FCopyLine, FCopyLineSize);
    if ((line == "\\." || line == "\\.\r") && --FCopiesPending == 0)
        FState = FResumeState;
    FCopyLineSize = 0;
    return end + 1;
}

// Takes one byte in the current state; false when the state has changed and the byte is to be read
// again in the new one.
bool TPsqlScanner::Step(char c) {
    switch (FState) {
    case TState::Normal:
        return StepNormal(c);
    case TState::Word:
        return StepWord(c);
    case TState::Minus:
    case TState::Slash:
        if ((FState == TState::Minus && c == '-') || (FState == TState::Slash && c == '*')) {
            FState = c == '-' ? TState::LineComment : TState::BlockComment;
            FCommentDepth = 1;
            return true;
        }
        StartToken(TTokenKind::Symbol, FColumn - 1);
        AddToToken(FState == TState::Minus ? '-' : '/');
        EndToken();
        FState = TState::Normal;
        return false;
    case TState::LineComment:
        // psql ends a -- comment at a carriage return too: what follows it on the line is read.
        if (c == '\n' || c == '\r')
            FState = TState::Normal;
        return true;
    case TState::BlockComment:
        if (c == '*')
            FState = TState::BlockStar;
        else if (c == '/')
            FState = TState::BlockSlash;
        return true;
    case TState::BlockStar:
        if (c == '/')
            FState = --FCommentDepth == 0 ? TState::Normal : TState::BlockComment;
        else if (c != '*')
            FState = TState::BlockComment;
        return true;
    case TState::BlockSlash:
        if (c == '*') {
            ++FCommentDepth;
            FState = TState::BlockComment;
        } else if (c != '/') {
            FState = TState::BlockComment;
        }
        return true;
    case TState::Quote:
        if (c == '\'') {
            FState = TState::QuoteEnd;
        } else if (c == '\\' && FQuoteEscapes) {
            FState = TState::QuoteEscape;
        } else {
            AddToToken(c);
        }
        return true;
    case TState::QuoteEscape:
        AddToToken(c);
        FState = TState::Quote;
        return true;
    case TState::QuoteEnd:
        // A second quote at once is a quote inside the string. psql reads a line at a time, so unlike
        // the server it never joins 'a'<newline>'b' into one string: the second is a string of its own.
        if (c == '\'') {
            AddToToken(c);
            FState = TState::Quote;
            return true;
        }
        EndToken();
        FState = TState::Normal;
        return false;
    case TState::Name:
        if (c == '"')
            FState = TState::NameEnd;
        else
            AddToToken(c);
        return true;
    case TState::NameEnd:
        if (c == '"') {
            AddToToken(c);
            FState = TState::Name;
            return true;
        }
        EndToken();
        FState = TState::Normal;
        return false;
    case TState::DollarOpen:
    case TState::DollarBody:
    case TState::DollarClose:
        return StepDollar(c);
    case TState::CommandName:
        if (IsSpace(c) || c == '\\') {
            FListener.BackslashCommand(FCommandName, FLine, FCommandColumn);
            FState = TState::CommandArguments;
            return false;
        }
        if (FCommandName.size() < TokenText)
            FCommandName += c;
        return true;
    case TState::CommandArguments:
        // The arguments run to the end of the line; a backslash there starts the next command.
        if (c == '\n') {
            FState = TState::Normal;
        } else if (c == '\\') {
            FCommandName.clear();
            FCommandColumn = FColumn;
            FState = TState::CommandName;
        }
        return true;
    case TState::CopyData:
        break;
    }
    return true;
}

bool TPsqlScanner::StepNormal(char c) {
    if (IsSpace(c))
        return true;
    switch (c) {
    case '-':
        FState = TState::Minus;
        return true;
    case '/':
        FState = TState::Slash;
        return true;
    case '\'':
        StartToken(TTokenKind::String, FColumn);
        // U&'' strings take no backslash escapes, whatever standard_conforming_strings says.
        OpenQuote(!FStandardStrings &&
                  !(FRecent[0] == '&' && Lower(FRecent[1]) == 'u' && !IsWordChar(FRecent[2])));
        return true;
    case '"':
        StartToken(TTokenKind::QuotedName, FColumn);
        FState = TState::Name;
        return true;
    case '$':
        FDollarTag.clear();
        FDollarColumn = FColumn;
        FState = TState::DollarOpen;
        return true;
    case '\\':
        FCommandName.clear();
        FCommandColumn = FColumn;
        FState = TState::CommandName;
        return true;
    case ';':
        Semicolon();
        return true;
    default:
        break;
    }
    if (IsWordStart(c) || IsDigit(c)) {
        StartToken(IsDigit(c) ? TTokenKind::Number : TTokenKind::Word, FColumn);
        FWordAfterDot = FRecent[0] == '.';
        AddToToken(c);
        FState = TState::Word;
        return true;
    }
    if (c == '(')
        ++FParenDepth;
    else if (c == ')' && FParenDepth > 0)
        --FParenDepth;
    StartToken(TTokenKind::Symbol, FColumn);
    AddToToken(c);
    EndToken();
    return true;
}

bool TPsqlScanner::StepWord(char c) {
    const bool number = FTokenKind == TTokenKind::Number;
    if (IsWordStart(c) || IsDigit(c) || (c == '$' && !number)) {
        AddToToken(c);
        return true;
    }
    // Where a number runs into a quote or a "$", psql versions cut the tokens differently.
    if (number && (c == '\'' || c == '$'))
        FListener.Unclear(FTokenLine, FTokenColumn);
    if (c == '\'' && !number && FTokenSize == 1) {
        const char prefix = FTokenText[0];
        if (prefix == 'e' || prefix == 'b' || prefix == 'x' || prefix == 'n') {
            // After "1." the letter may belong to the number, and the string then be a plain one.
            if (FWordAfterDot)
                FListener.Unclear(FTokenLine, FTokenColumn);
            FTokenKind = TTokenKind::String;
            FTokenSize = 0;
            OpenQuote(prefix == 'e' || (prefix == 'n' && !FStandardStrings));
            return true;
        }
    }
    EndToken();
    FState = TState::Normal;
    return false;
}

// $tag$ opens a body that only the same $tag$ closes; the tag is a word that does not start with a
// digit, or nothing. A "$" that opens no body is a symbol of its own, and psql reads on right after it.
bool TPsqlScanner::StepDollar(char c) {
    if (FState == TState::DollarOpen) {
        if (c == '$') {
            StartToken(TTokenKind::String, FDollarColumn);
            FState = TState::DollarBody;
            return true;
        }
        const bool tagByte = FDollarTag.isEmpty() ? IsWordStart(c) : IsWordStart(c) || IsDigit(c);
        if (tagByte && FDollarTag.size() < LongestDollarTag) {
            FDollarTag += c;
            return true;
        }
        if (tagByte)
            FListener.Unclear(FLine, FDollarColumn);
        StartToken(TTokenKind::Symbol, FDollarColumn);
        AddToToken('$');
        EndToken();
        FState = TState::Normal;
        const QByteArray again = std::exchange(FDollarTag, {});
        for (const char byte : again) {
            while (!Step(byte)) {
            }
        }
        return false;
    }
    if (FState == TState::DollarBody) {
        if (c == '$') {
            FCandidate.clear();
            FCandidateLength = 0;
            FState = TState::DollarClose;
        }
        return true;
    }
    if (c == '$') {
        if (FCandidateLength == FDollarTag.size() && FCandidate == FDollarTag) {
            EndToken();
            FState = TState::Normal;
            return true;
        }
        // Not the tag, but this "$" may start it.
        FCandidate.clear();
        FCandidateLength = 0;
        return true;
    }
    if (FCandidateLength == 0 ? IsWordStart(c) : IsWordStart(c) || IsDigit(c)) {
        if (FCandidateLength < FDollarTag.size())
            FCandidate += c;
        ++FCandidateLength;
        return true;
    }
    FState = TState::DollarBody;
    return true;
}

void TPsqlScanner::StartToken(TTokenKind kind, qsizetype column) {
    FTokenKind = kind;
    FTokenSize = 0;
    FTokenLine = FLine;
    FTokenColumn = column;
}

void TPsqlScanner::AddToToken(char c) {
    if (FTokenSize < TokenText)
        FTokenText[FTokenSize++] = FTokenKind == TTokenKind::Word ? Lower(c) : c;
}

void TPsqlScanner::EndToken() {
    const QByteArrayView text(FTokenText, FTokenSize);
    if (FTokenKind == TTokenKind::Word)
        CountIdentifier(text);
    FListener.Token({FTokenKind, text, FTokenLine, FTokenColumn});
}

void TPsqlScanner::OpenQuote(bool escapes) {
    FQuoteEscapes = escapes;
    FState = TState::Quote;
}

// psql's heuristic for SQL function bodies: in a statement that starts CREATE [OR REPLACE] FUNCTION or
// PROCEDURE, BEGIN (and CASE within it) opens a block that END closes, and no semicolon inside one
// sends the query.
void TPsqlScanner::CountIdentifier(QByteArrayView word) {
    if (FIdentifierCount == 0)
        std::memset(FIdentifiers, 0, sizeof FIdentifiers);
    if (FIdentifierCount < 4 &&
        (word == "create" || word == "function" || word == "procedure" || word == "or" || word == "replace"))
        FIdentifiers[FIdentifierCount] = word[0];
    if (FIdentifierCount < 5)
        ++FIdentifierCount;
    const bool function = FIdentifiers[0] == 'c' && (FIdentifiers[1] == 'f' || FIdentifiers[1] == 'p' ||
                                                     (FIdentifiers[1] == 'o' && FIdentifiers[2] == 'r' &&
                                                      (FIdentifiers[3] == 'f' || FIdentifiers[3] == 'p')));
    if (!function || FParenDepth != 0)
        return;
    if (word == "begin")
        ++FBeginDepth;
    else if (word == "case" && FBeginDepth >= 1)
        ++FBeginDepth;
    else if (word == "end" && FBeginDepth > 0)
        --FBeginDepth;
}

void TPsqlScanner::Semicolon() {
    const bool sends = FParenDepth == 0 && FBeginDepth == 0;
    if (sends)
        FIdentifierCount = 0;
    FListener.Semicolon(sends);
}
