#include "core/Error.h"

#include <cstring>

Error::Error(QString message)
    : message_(std::move(message))
    , utf8_(message_.toUtf8()) {}

QString SystemErrorText(int errorNumber) {
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}

QString MessageOf(const std::exception& error) {
    if (const auto* own = dynamic_cast<const Error*>(&error))
        return own->Message();
    return QString::fromUtf8(error.what());
}
