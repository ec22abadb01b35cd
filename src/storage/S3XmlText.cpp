#include "storage/S3XmlText.h"

#include "core/Error.h"

#include <QStringDecoder>

#include <pugixml.hpp>

#include <algorithm>
#include <cstring>

namespace {

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(QByteArrayView text, QByteArrayView name) {
    if (text.size() != name.size())
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (AsciiLower(text[i]) != AsciiLower(name[i]))
            return false;
    }
    return true;
}

// The value of the encoding named in the XML declaration at the start of the bytes, if any.
QByteArrayView DeclaredEncoding(QByteArrayView bytes) {
    if (!bytes.startsWith("<?xml"))
        return {};
    const qsizetype end = bytes.indexOf("?>");
    const QByteArrayView declaration = bytes.first(end < 0 ? bytes.size() : end);
    qsizetype at = declaration.indexOf("encoding");
    if (at < 0)
        return {};
    auto skipBlanks = [&] {
        while (at < declaration.size() && (declaration[at] == ' ' || declaration[at] == '\t' ||
                                           declaration[at] == '\r' || declaration[at] == '\n'))
            ++at;
    };
    at += 8;
    skipBlanks();
    if (at >= declaration.size() || declaration[at] != '=')
        return {};
    ++at;
    skipBlanks();
    if (at >= declaration.size() || (declaration[at] != '"' && declaration[at] != '\''))
        return {};
    const qsizetype close = declaration.indexOf(declaration[at], at + 1);
    return close < 0 ? QByteArrayView() : declaration.sliced(at + 1, close - at - 1);
}

bool IsOneOf(QByteArrayView name, std::initializer_list<const char*> names) {
    for (const char* candidate : names) {
        if (EqualsIgnoringCase(name, candidate))
            return true;
    }
    return false;
}

QByteArray Latin1AsUtf8(QByteArrayView bytes) {
    QByteArray utf8;
    const auto high = std::count_if(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) != 0; });
    utf8.reserve(bytes.size() + high);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            utf8.append(c);
        } else {
            utf8.append(char(0xC0 | (byte >> 6)));
            utf8.append(char(0x80 | (byte & 0x3F)));
        }
    }
    return utf8;
}

QByteArray DecodedAsUtf8(QByteArrayView bytes, QStringConverter::Encoding encoding) {
    QStringDecoder decoder(encoding);
    const QString text = decoder.decode(bytes);
    return decoder.hasError() ? QByteArray() : text.toUtf8();
}

void AppendUtf8(QByteArray& out, char32_t codePoint) {
    out.append(QString::fromUcs4(&codePoint, 1).toUtf8());
}

// The length of a predefined entity reference at text (which starts with '&'), and its character.
qsizetype PredefinedEntity(const char* text, char* character) {
    static constexpr struct {
        const char* name;
        char character;
    } entities[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    for (const auto& entity : entities) {
        const size_t length = std::strlen(entity.name);
        if (std::strncmp(text, entity.name, length) == 0) {
            *character = entity.character;
            return qsizetype(length);
        }
    }
    return 0;
}

// The length of a character reference at text (which starts with "&#"), and its number: decimal
// digits, or "x" and hexadecimal ones, then ";". The number wraps at 32 bits as the parser's does.
qsizetype CharacterReference(const char* text, quint32* number) {
    const bool hex = text[2] == 'x';
    qsizetype at = hex ? 3 : 2;
    const qsizetype digitsStart = at;
    quint32 value = 0;
    for (;; ++at) {
        const char c = text[at];
        if (c >= '0' && c <= '9')
            value = value * (hex ? 16 : 10) + quint32(c - '0');
        else if (hex && AsciiLower(c) >= 'a' && AsciiLower(c) <= 'f')
            value = value * 16 + quint32(AsciiLower(c) - 'a' + 10);
        else
            break;
    }
    if (at == digitsStart || text[at] != ';')
        return 0;
    *number = value;
    return at + 1;
}

// Appends a text node's value with its references resolved; a malformed reference stays as written.
void AppendResolved(const char* value, QByteArray& out, TXmlText& text) {
    while (const char* amp = std::strchr(value, '&')) {
        out.append(value, amp - value);
        char character = 0;
        quint32 number = 0;
        qsizetype length = PredefinedEntity(amp, &character);
        if (length > 0) {
            out.append(character);
        } else if (amp[1] == '#' && (length = CharacterReference(amp, &number)) > 0) {
            if (number == 0) {
                text.HoldsNul = true;
                out.append('\0');
            } else if (number > 0x10FFFF || (number >= 0xD800 && number <= 0xDFFF)) {
                text.RefersToNoCharacter = true;
                AppendUtf8(out, QChar::ReplacementCharacter);
            } else {
                AppendUtf8(out, number);
            }
        } else {
            out.append('&');
            length = 1;
        }
        value = amp + length;
    }
    out.append(value);
}

} // namespace

QByteArray ListingAsUtf8(QByteArray bytes) {
    // A byte-order mark names the encoding outright, and so do the zero bytes of a "<" in UTF-16 or
    // UTF-32; the parser itself skips a UTF-8 mark.
    if (const auto encoding = QStringConverter::encodingForData(bytes, u'<'))
        return *encoding == QStringConverter::Utf8 ? bytes : DecodedAsUtf8(bytes, *encoding);
    const QByteArrayView declared = DeclaredEncoding(bytes);
    if (declared.isEmpty() || IsOneOf(declared, {"UTF-8", "UTF8", "US-ASCII", "ASCII"}))
        return bytes;
    if (IsOneOf(declared, {"ISO-8859-1", "ISO8859-1", "ISO_8859-1", "Latin1", "Latin-1", "L1"}))
        return Latin1AsUtf8(bytes);
    throw TError(QStringLiteral("The listing is in an encoding that cannot be read: %1")
                     .arg(QString::fromLatin1(declared)));
}

TXmlText ElementText(const pugi::xml_node& element, QByteArray& scratch) {
    TXmlText text;
    const pugi::xml_node first = element.first_child();
    if (first && !first.next_sibling()) {
        const bool plain = first.type() == pugi::node_cdata ||
                           (first.type() == pugi::node_pcdata && !std::strchr(first.value(), '&'));
        if (plain) {
            text.Bytes = QByteArrayView(first.value());
            return text;
        }
    }
    scratch.clear();
    // Walks the element's descendants without recursion: a hostile document may nest deeply.
    for (pugi::xml_node node = first; node;) {
        if (node.type() == pugi::node_pcdata)
            AppendResolved(node.value(), scratch, text);
        else if (node.type() == pugi::node_cdata)
            scratch.append(node.value());
        if (node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node != element && !node.next_sibling())
            node = node.parent();
        if (node == element)
            break;
        node = node.next_sibling();
    }
    text.Bytes = scratch;
    return text;
}

bool ElementNameIs(const pugi::xml_node& element, QByteArrayView name) {
    const char* actual = element.name();
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (AsciiLower(actual[i]) != AsciiLower(name[i]))
            return false;
    }
    return actual[name.size()] == '\0';
}
