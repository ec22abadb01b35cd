#include "core/ShortName.h"

#include "core/Text.h"

#include <QCryptographicHash>

#include <algorithm>

namespace {

constexpr qsizetype MaxExtensionBytes = 16;

// Where name's extension starts, or its size when it has none.
qsizetype ExtensionAt(QByteArrayView name) {
    const qsizetype dot = name.lastIndexOf('.');
    return dot > 0 && name.size() - dot <= MaxExtensionBytes ? dot : name.size();
}

} // namespace

QByteArray ShortHash(QByteArrayView text) {
    return QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex().first(8);
}

QByteArray WithShortHash(QByteArrayView name, QByteArrayView whole) {
    const qsizetype at = ExtensionAt(name);
    return QByteArray(name.first(at).toByteArray() + '~' + ShortHash(whole) + name.sliced(at).toByteArray());
}

QByteArray NameWithinBytes(QByteArrayView name, qsizetype maxBytes, QByteArrayView whole) {
    if (name.size() <= maxBytes)
        return name.toByteArray();
    const qsizetype at = ExtensionAt(name);
    const qsizetype tailSize = 1 + 8 + (name.size() - at);
    qsizetype cut = std::clamp<qsizetype>(maxBytes - tailSize, 0, at);
    while (cut > 0 && IsContinuationByte(name[cut]))
        --cut;
    const QByteArray shortened = name.first(cut).toByteArray() + name.sliced(at).toByteArray();
    return WithShortHash(shortened, whole);
}
