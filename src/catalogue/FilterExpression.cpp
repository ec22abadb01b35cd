#include "catalogue/FilterExpression.h"

#include "catalogue/NarrowText.h"
#include "core/Text.h"

#include <QStringList>

#include <vector>

namespace {

constexpr qsizetype LiteralWidth = 255;

enum class TTokenKind { Identifier, Number, String, Symbol, End };

struct TToken {
    TTokenKind Kind;
    QString Text; // identifier, number, symbol, or the literal's value
    qsizetype Offset;
};

bool IsWordStart(QChar c) {
    return c.isLetter() || c == u'_';
}
bool IsWordPart(QChar c) {
    return IsWordStart(c) || IsAsciiDigit(c);
}

bool IsReservedWord(const QString& word) {
    static const QStringList words{QStringLiteral("and"),  QStringLiteral("or"), QStringLiteral("not"),
                                   QStringLiteral("like"), QStringLiteral("is"), QStringLiteral("null"),
                                   QStringLiteral("in")};
    return words.contains(word, Qt::CaseInsensitive);
}

// Decides whether a lone quote whose text goes on at 'at' ends the literal (see the header).
bool ContinuesExpression(const QString& text, qsizetype at) {
    while (at < text.size() && (IsBlank(text[at]) || text[at] == u')'))
        ++at;
    if (at == text.size())
        return true;
    const QChar c = text[at];
    if (IsAsciiDigit(c) || c == u'<' || c == u'=' || c == u'>')
        return true;
    if (c == u'"' || c == u'`' || c == u'[')
        return true;
    const QStringView rest = QStringView(text).mid(at);
    if (rest.startsWith(u"/*") || rest.startsWith(u"//"))
        return true;
    if (!IsWordStart(c))
        return false;
    qsizetype end = at;
    while (end < text.size() && IsWordPart(text[end]))
        ++end;
    if (!IsReservedWord(text.mid(at, end - at)))
        return false;
    while (end < text.size() && IsBlank(text[end]))
        ++end;
    return end < text.size() && QStringLiteral(",;()").contains(text[end]);
}

TToken ReadString(const QString& text, qsizetype& at) {
    const qsizetype start = at++;
    QString value;
    for (;;) {
        if (at >= text.size())
            throw TFilterParseError(QStringLiteral("Unterminated string constant"), start);
        const QChar c = text[at++];
        if (c != u'\'') {
            value.append(c);
            continue;
        }
        if (at < text.size() && text[at] == u'\'') {
            value.append(c);
            ++at;
            continue;
        }
        if (text.indexOf(u'\'', at) < 0 || ContinuesExpression(text, at))
            return {TTokenKind::String, value, start};
        value.append(c);
    }
}

std::vector<TToken> Tokenize(const QString& text) {
    std::vector<TToken> tokens;
    qsizetype at = 0;
    while (at < text.size()) {
        const QChar c = text[at];
        const qsizetype start = at;
        if (IsBlank(c)) {
            ++at;
        } else if (c == u'\'') {
            tokens.push_back(ReadString(text, at));
        } else if (IsWordStart(c)) {
            while (at < text.size() && IsWordPart(text[at]))
                ++at;
            tokens.push_back({TTokenKind::Identifier, text.mid(start, at - start), start});
        } else if (IsAsciiDigit(c)) {
            while (at < text.size() && (IsAsciiDigit(text[at]) || text[at] == u'.'))
                ++at;
            tokens.push_back({TTokenKind::Number, text.mid(start, at - start), start});
        } else if (QStringLiteral("(),=<>+-*/").contains(c)) {
            const bool twoCharacters = (c == u'<' || c == u'>') && at + 1 < text.size() &&
                                       (text[at + 1] == u'=' || text[at + 1] == u'>');
            at += twoCharacters ? 2 : 1;
            tokens.push_back({TTokenKind::Symbol, text.mid(start, at - start), start});
        } else {
            const QString character = text.mid(start, c.isHighSurrogate() ? 2 : 1);
            throw TFilterParseError(
                QStringLiteral("Invalid filter expression character: '%1'").arg(character), start);
        }
    }
    tokens.push_back({TTokenKind::End, {}, text.size()});
    return tokens;
}

class TParser {
  public:
    explicit TParser(std::vector<TToken> tokens)
        : FTokens(std::move(tokens)) {}

    QString Parse() {
        ExpectWord(QStringLiteral("lower"));
        ExpectSymbol(QStringLiteral("("));
        const TToken& field = Next();
        if (field.Kind != TTokenKind::Identifier)
            throw TFilterParseError(QStringLiteral("Field name expected"), field.Offset);
        if (field.Text.compare(QStringLiteral("Name"), Qt::CaseInsensitive) != 0)
            throw TFilterParseError(QStringLiteral("Field '%1' not found").arg(field.Text), field.Offset);
        ExpectSymbol(QStringLiteral(")"));
        ExpectWord(QStringLiteral("like"));
        const TToken& literal = Next();
        if (literal.Kind != TTokenKind::String)
            throw TFilterParseError(QStringLiteral("String constant expected"), literal.Offset);
        const TToken& end = Next();
        if (end.Kind != TTokenKind::End)
            throw TFilterParseError(QStringLiteral("End of filter expression expected"), end.Offset);
        return literal.Text;
    }

  private:
    const TToken& Next() { return FTokens[FPosition++]; }

    void ExpectWord(const QString& word) {
        const TToken& token = Next();
        if (token.Kind != TTokenKind::Identifier || token.Text.compare(word, Qt::CaseInsensitive) != 0)
            throw TFilterParseError(QStringLiteral("'%1' expected").arg(word), token.Offset);
    }

    void ExpectSymbol(const QString& symbol) {
        const TToken& token = Next();
        if (token.Kind != TTokenKind::Symbol || token.Text != symbol)
            throw TFilterParseError(QStringLiteral("'%1' expected").arg(symbol), token.Offset);
    }

    std::vector<TToken> FTokens;
    size_t FPosition = 0;
};

} // namespace

TFilterParseError::TFilterParseError(const QString& message, qsizetype offset)
    : TError(message)
    , FOffset(offset) {}

TLikePattern ParseFilterExpression(const QString& expression) {
    const QString literal = TParser(Tokenize(expression)).Parse();
    return TLikePattern(ToNarrowField(literal, LiteralWidth));
}
