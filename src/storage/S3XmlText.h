#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace pugi {
class xml_node;
}

// A listing answer's bytes as UTF-8, the form the parser reads them in: unchanged when the document is
// UTF-8 (by its byte-order mark, its declaration, or for want of either); converted when the mark, the
// first bytes or the declaration name UTF-16, UTF-32 or Latin-1. Empty when the bytes are not text in
// the encoding named. Throws TError for a declared encoding this reader does not know.
QByteArray ListingAsUtf8(QByteArray bytes);

// The text of an element as XML means it: every text and CDATA node below it in document order, with
// character and entity references resolved (the parser leaves them to this reader, which sees a
// reference to character 0 that the parser would end the text at).
struct TXmlText {
    QByteArrayView Bytes; // into the document, or into the scratch array given
    bool HoldsNul = false;
    bool RefersToNoCharacter = false; // a reference to a surrogate or beyond U+10FFFF

    // Whether the text stands for exactly these characters, as a key must: no NUL, and UTF-8 that
    // every reference resolved to a character. Checked only when asked, for the keys.
    bool IsExact() const { return !HoldsNul && !RefersToNoCharacter && Bytes.isValidUtf8(); }
};

// Reads the element's text. Plain text is returned as a view into the document; text that needs
// resolving or joining is written to scratch (emptied first) and returned as a view into it.
TXmlText ElementText(const pugi::xml_node& element, QByteArray& scratch);

// Whether the element's name is this ASCII name, letter case ignored.
bool ElementNameIs(const pugi::xml_node& element, QByteArrayView name);
