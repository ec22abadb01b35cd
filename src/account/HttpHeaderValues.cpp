#include "account/HttpHeaderValues.h"

namespace {

bool IsTokenChar(char c) {
    static constexpr QByteArrayView Separators = "()<>@,;:\\\"/[]?={} \t";
    return c > 32 && c < 127 && !Separators.contains(c);
}

bool SameName(QByteArrayView a, QByteArrayView b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Walks through a header value one token, quoted string or separator at a time.
class THeaderCursor {
  public:
    explicit THeaderCursor(QByteArrayView text)
        : FText(text) {}

    bool AtEnd() const { return FPos >= FText.size(); }
    char Peek() const { return AtEnd() ? '\0' : FText[FPos]; }
    void Skip() { ++FPos; }

    void SkipSpaces() {
        while (Peek() == ' ' || Peek() == '\t')
            ++FPos;
    }

    QByteArrayView Token() {
        const qsizetype start = FPos;
        while (!AtEnd() && IsTokenChar(FText[FPos]))
            ++FPos;
        return FText.sliced(start, FPos - start);
    }

    // A quoted string without its quotes and escapes, or a token.
    QByteArray Value() {
        if (Peek() != '"')
            return Token().toByteArray();
        ++FPos;
        QByteArray value;
        while (!AtEnd() && FText[FPos] != '"') {
            if (FText[FPos] == '\\' && FPos + 1 < FText.size())
                ++FPos;
            value.append(FText[FPos++]);
        }
        ++FPos;
        return value;
    }

  private:
    QByteArrayView FText;
    qsizetype FPos = 0;
};

} // namespace

std::optional<QByteArray> BasicChallengeCharset(QByteArrayView wwwAuthenticate) {
    // Each challenge is a scheme followed by name=value parameters; a word not followed by "=" starts
    // the next challenge.
    THeaderCursor cursor(wwwAuthenticate);
    std::optional<QByteArray> charset;
    bool inBasic = false;
    while (!cursor.AtEnd()) {
        cursor.SkipSpaces();
        const QByteArrayView word = cursor.Token();
        if (word.isEmpty()) {
            cursor.Skip();
            continue;
        }
        cursor.SkipSpaces();
        if (cursor.Peek() != '=') {
            inBasic = SameName(word, "Basic");
            continue;
        }
        cursor.Skip();
        cursor.SkipSpaces();
        const QByteArray value = cursor.Value();
        if (inBasic && SameName(word, "charset"))
            charset = value;
    }
    return charset;
}

QByteArray ContentTypeCharset(QByteArrayView contentType) {
    THeaderCursor cursor(contentType);
    while (!cursor.AtEnd() && cursor.Peek() != ';')
        cursor.Skip();
    while (!cursor.AtEnd()) {
        cursor.Skip();
        cursor.SkipSpaces();
        const QByteArrayView name = cursor.Token();
        cursor.SkipSpaces();
        if (cursor.Peek() != '=') {
            while (!cursor.AtEnd() && cursor.Peek() != ';')
                cursor.Skip();
            continue;
        }
        cursor.Skip();
        cursor.SkipSpaces();
        const QByteArray value = cursor.Value();
        if (SameName(name, "charset"))
            return value;
        while (!cursor.AtEnd() && cursor.Peek() != ';')
            cursor.Skip();
    }
    return {};
}
