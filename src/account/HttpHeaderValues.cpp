#include "account/HttpHeaderValues.h"

namespace {

bool IsTokenChar(char c) {
    static constexpr QByteArrayView separators = "()<>@,;:\\\"/[]?={} \t";
    return c > 32 && c < 127 && !separators.contains(c);
}

bool SameName(QByteArrayView a, QByteArrayView b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Walks through a header value one token, quoted string or separator at a time.
class HeaderCursor {
  public:
    explicit HeaderCursor(QByteArrayView text)
        : text_(text) {}

    bool AtEnd() const { return pos_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
    void Skip() { ++pos_; }

    void SkipSpaces() {
        while (Peek() == ' ' || Peek() == '\t')
            ++pos_;
    }

    QByteArrayView Token() {
        const qsizetype start = pos_;
        while (!AtEnd() && IsTokenChar(text_[pos_]))
            ++pos_;
        return text_.sliced(start, pos_ - start);
    }

    // A quoted string without its quotes and escapes, or a token.
    QByteArray Value() {
        if (Peek() != '"')
            return Token().toByteArray();
        ++pos_;
        QByteArray value;
        while (!AtEnd() && text_[pos_] != '"') {
            if (text_[pos_] == '\\' && pos_ + 1 < text_.size())
                ++pos_;
            value.append(text_[pos_++]);
        }
        ++pos_;
        return value;
    }

  private:
    QByteArrayView text_;
    qsizetype pos_ = 0;
};

} // namespace

std::optional<QByteArray> BasicChallengeCharset(QByteArrayView wwwAuthenticate) {
    // Each challenge is a scheme followed by name=value parameters; a word not followed by "=" starts
    // the next challenge.
    HeaderCursor cursor(wwwAuthenticate);
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
    HeaderCursor cursor(contentType);
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
