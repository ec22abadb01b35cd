#include "core/Error.h"

#include <cstring>

Error::Error(const QString& message)
    : std::runtime_error(message.toStdString())
    , message_(message) {}

QString SystemErrorText(int errorNumber) {
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}

QString MessageOf(const std::exception& error) {
    if (const auto* own = dynamic_cast<const Error*>(&error))
        return own->Message();
    return QString::fromUtf8(error.what());
}
