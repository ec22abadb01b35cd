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
        if (state_ == TState::CopyData) {
            at = SkipCopyData(bytes, at);
            continue;
        }
        Feed(bytes[at]);
        ++at;
    }
}

void TPsqlScanner::Finish() {
    // psql runs the last line also without its newline.
    switch (state_) {
    case TState::Word:
        EndToken();
        break;
    case TState::CommandName:
        listener_.BackslashCommand(commandName_, line_, commandColumn_);
        break;
    default:
        break;
    }
    state_ = TState::Normal;
    if (column_ > 0)
        listener_.LineEnds(line_, QByteArrayView(lineStart_, qMin(column_, LineStart)));
}

void TPsqlScanner::Feed(char c) {
    while (!Step(c)) {
    }
    if (c == '\n') {
        EndLine();
    } else {
        if (column_ < LineStart)
            lineStart_[column_] = c;
        ++column_;
    }
    recent_[2] = recent_[1];
    recent_[1] = recent_[0];
    recent_[0] = c;
}

void TPsqlScanner::EndLine() {
    listener_.LineEnds(line_, QByteArrayView(lineStart_, qMin(column_, LineStart)));
    ++line_;
    column_ = 0;
    standardStrings_ = nextStandardStrings_;
    if (copiesPending_ > 0) {
        resumeState_ = state_;
        state_ = TState::CopyData;
        copyLineSize_ = 0;
    }
}

// COPY data goes by unread, a line at a time; a line "\." (or "\.\r") ends one COPY's data, and psql
// then reads the rest of the line that sent the COPY as it would have.
qsizetype TPsqlScanner::SkipCopyData(QByteArrayView bytes, qsizetype from) {
    const char* start = bytes.data() + from;
    const auto* newline = static_cast<const char*>(std::memchr(start, '\n', size_t(bytes.size() - from)));
    const qsizetype end = newline ? newline - bytes.data() : bytes.size();
    const qsizetype kept = qMin(end - from, qsizetype(sizeof copyLine_) - copyLineSize_);
    std::memcpy(copyLine_ + copyLineSize_, start, size_t(kept));
    copyLineSize_ += kept;
    if (!newline)
        return end;
    ++line_;
    const QByteArrayView line(copyLine_, copyLineSize_);
    if ((line == "\\." || line == "\\.\r") && --copiesPending_ == 0)
        state_ = resumeState_;
    copyLineSize_ = 0;
    return end + 1;
}

// Takes one byte in the current state; false when the state has changed and the byte is to be read
// again in the new one.
bool TPsqlScanner::Step(char c) {
    switch (state_) {
    case TState::Normal:
        return StepNormal(c);
    case TState::Word:
        return StepWord(c);
    case TState::Minus:
    case TState::Slash:
        if ((state_ == TState::Minus && c == '-') || (state_ == TState::Slash && c == '*')) {
            state_ = c == '-' ? TState::LineComment : TState::BlockComment;
            commentDepth_ = 1;
            return true;
        }
        StartToken(TTokenKind::Symbol, column_ - 1);
        AddToToken(state_ == TState::Minus ? '-' : '/');
        EndToken();
        state_ = TState::Normal;
        return false;
    case TState::LineComment:
        // psql ends a -- comment at a carriage return too: what follows it on the line is read.
        if (c == '\n' || c == '\r')
            state_ = TState::Normal;
        return true;
    case TState::BlockComment:
        if (c == '*')
            state_ = TState::BlockStar;
        else if (c == '/')
            state_ = TState::BlockSlash;
        return true;
    case TState::BlockStar:
        if (c == '/')
            state_ = --commentDepth_ == 0 ? TState::Normal : TState::BlockComment;
        else if (c != '*')
            state_ = TState::BlockComment;
        return true;
    case TState::BlockSlash:
        if (c == '*') {
            ++commentDepth_;
            state_ = TState::BlockComment;
        } else if (c != '/') {
            state_ = TState::BlockComment;
        }
        return true;
    case TState::Quote:
        if (c == '\'') {
            state_ = TState::QuoteEnd;
        } else if (c == '\\' && quoteEscapes_) {
            state_ = TState::QuoteEscape;
        } else {
            AddToToken(c);
        }
        return true;
    case TState::QuoteEscape:
        AddToToken(c);
        state_ = TState::Quote;
        return true;
    case TState::QuoteEnd:
        // A second quote at once is a quote inside the string. psql reads a line at a time, so unlike
        // the server it never joins 'a'<newline>'b' into one string: the second is a string of its own.
        if (c == '\'') {
            AddToToken(c);
            state_ = TState::Quote;
            return true;
        }
        EndToken();
        state_ = TState::Normal;
        return false;
    case TState::Name:
        if (c == '"')
            state_ = TState::NameEnd;
        else
            AddToToken(c);
        return true;
    case TState::NameEnd:
        if (c == '"') {
            AddToToken(c);
            state_ = TState::Name;
            return true;
        }
        EndToken();
        state_ = TState::Normal;
        return false;
    case TState::DollarOpen:
    case TState::DollarBody:
    case TState::DollarClose:
        return StepDollar(c);
    case TState::CommandName:
        if (IsSpace(c) || c == '\\') {
            listener_.BackslashCommand(commandName_, line_, commandColumn_);
            state_ = TState::CommandArguments;
            return false;
        }
        if (commandName_.size() < TokenText)
            commandName_ += c;
        return true;
    case TState::CommandArguments:
        // The arguments run to the end of the line; a backslash there starts the next command.
        if (c == '\n') {
            state_ = TState::Normal;
        } else if (c == '\\') {
            commandName_.clear();
            commandColumn_ = column_;
            state_ = TState::CommandName;
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
        state_ = TState::Minus;
        return true;
    case '/':
        state_ = TState::Slash;
        return true;
    case '\'':
        StartToken(TTokenKind::String, column_);
        // U&'' strings take no backslash escapes, whatever standard_conforming_strings says.
        OpenQuote(!standardStrings_ &&
                  !(recent_[0] == '&' && Lower(recent_[1]) == 'u' && !IsWordChar(recent_[2])));
        return true;
    case '"':
        StartToken(TTokenKind::QuotedName, column_);
        state_ = TState::Name;
        return true;
    case '$':
        dollarTag_.clear();
        dollarColumn_ = column_;
        state_ = TState::DollarOpen;
        return true;
    case '\\':
        commandName_.clear();
        commandColumn_ = column_;
        state_ = TState::CommandName;
        return true;
    case ';':
        Semicolon();
        return true;
    default:
        break;
    }
    if (IsWordStart(c) || IsDigit(c)) {
        StartToken(IsDigit(c) ? TTokenKind::Number : TTokenKind::Word, column_);
        wordAfterDot_ = recent_[0] == '.';
        AddToToken(c);
        state_ = TState::Word;
        return true;
    }
    if (c == '(')
        ++parenDepth_;
    else if (c == ')' && parenDepth_ > 0)
        --parenDepth_;
    StartToken(TTokenKind::Symbol, column_);
    AddToToken(c);
    EndToken();
    return true;
}

bool TPsqlScanner::StepWord(char c) {
    const bool number = tokenKind_ == TTokenKind::Number;
    if (IsWordStart(c) || IsDigit(c) || (c == '$' && !number)) {
        AddToToken(c);
        return true;
    }
    // Where a number runs into a quote or a "$", psql versions cut the tokens differently.
    if (number && (c == '\'' || c == '$'))
        listener_.Unclear(tokenLine_, tokenColumn_);
    if (c == '\'' && !number && tokenSize_ == 1) {
        const char prefix = tokenText_[0];
        if (prefix == 'e' || prefix == 'b' || prefix == 'x' || prefix == 'n') {
            // After "1." the letter may belong to the number, and the string then be a plain one.
            if (wordAfterDot_)
                listener_.Unclear(tokenLine_, tokenColumn_);
            tokenKind_ = TTokenKind::String;
            tokenSize_ = 0;
            OpenQuote(prefix == 'e' || (prefix == 'n' && !standardStrings_));
            return true;
        }
    }
    EndToken();
    state_ = TState::Normal;
    return false;
}

// $tag$ opens a body that only the same $tag$ closes; the tag is a word that does not start with a
// digit, or nothing. A "$" that opens no body is a symbol of its own, and psql reads on right after it.
bool TPsqlScanner::StepDollar(char c) {
    if (state_ == TState::DollarOpen) {
        if (c == '$') {
            StartToken(TTokenKind::String, dollarColumn_);
            state_ = TState::DollarBody;
            return true;
        }
        const bool tagByte = dollarTag_.isEmpty() ? IsWordStart(c) : IsWordStart(c) || IsDigit(c);
        if (tagByte && dollarTag_.size() < LongestDollarTag) {
            dollarTag_ += c;
            return true;
        }
        if (tagByte)
            listener_.Unclear(line_, dollarColumn_);
        StartToken(TTokenKind::Symbol, dollarColumn_);
        AddToToken('$');
        EndToken();
        state_ = TState::Normal;
        const QByteArray again = std::exchange(dollarTag_, {});
        for (const char byte : again) {
            while (!Step(byte)) {
            }
        }
        return false;
    }
    if (state_ == TState::DollarBody) {
        if (c == '$') {
            candidate_.clear();
            candidateLength_ = 0;
            state_ = TState::DollarClose;
        }
        return true;
    }
    if (c == '$') {
        if (candidateLength_ == dollarTag_.size() && candidate_ == dollarTag_) {
            EndToken();
            state_ = TState::Normal;
            return true;
        }
        // Not the tag, but this "$" may start it.
        candidate_.clear();
        candidateLength_ = 0;
        return true;
    }
    if (candidateLength_ == 0 ? IsWordStart(c) : IsWordStart(c) || IsDigit(c)) {
        if (candidateLength_ < dollarTag_.size())
            candidate_ += c;
        ++candidateLength_;
        return true;
    }
    state_ = TState::DollarBody;
    return true;
}

void TPsqlScanner::StartToken(TTokenKind kind, qsizetype column) {
    tokenKind_ = kind;
    tokenSize_ = 0;
    tokenLine_ = line_;
    tokenColumn_ = column;
}

void TPsqlScanner::AddToToken(char c) {
    if (tokenSize_ < TokenText)
        tokenText_[tokenSize_++] = tokenKind_ == TTokenKind::Word ? Lower(c) : c;
}

void TPsqlScanner::EndToken() {
    const QByteArrayView text(tokenText_, tokenSize_);
    if (tokenKind_ == TTokenKind::Word)
        CountIdentifier(text);
    listener_.Token({tokenKind_, text, tokenLine_, tokenColumn_});
}

void TPsqlScanner::OpenQuote(bool escapes) {
    quoteEscapes_ = escapes;
    state_ = TState::Quote;
}

// psql's heuristic for SQL function bodies: in a statement that starts CREATE [OR REPLACE] FUNCTION or
// PROCEDURE, BEGIN (and CASE within it) opens a block that END closes, and no semicolon inside one
// sends the query.
void TPsqlScanner::CountIdentifier(QByteArrayView word) {
    if (identifierCount_ == 0)
        std::memset(identifiers_, 0, sizeof identifiers_);
    if (identifierCount_ < 4 &&
        (word == "create" || word == "function" || word == "procedure" || word == "or" || word == "replace"))
        identifiers_[identifierCount_] = word[0];
    if (identifierCount_ < 5)
        ++identifierCount_;
    const bool function = identifiers_[0] == 'c' && (identifiers_[1] == 'f' || identifiers_[1] == 'p' ||
                                                     (identifiers_[1] == 'o' && identifiers_[2] == 'r' &&
                                                      (identifiers_[3] == 'f' || identifiers_[3] == 'p')));
    if (!function || parenDepth_ != 0)
        return;
    if (word == "begin")
        ++beginDepth_;
    else if (word == "case" && beginDepth_ >= 1)
        ++beginDepth_;
    else if (word == "end" && beginDepth_ > 0)
        --beginDepth_;
}

void TPsqlScanner::Semicolon() {
    const bool sends = parenDepth_ == 0 && beginDepth_ == 0;
    if (sends)
        identifierCount_ = 0;
    listener_.Semicolon(sends);
}
