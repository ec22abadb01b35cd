#include "core/Error.h"

#include <cstring>

TError::TError(const QString& message)
    : std::runtime_error(message.toStdString())
    , FMessage(message) {}

QString SystemErrorText(int errorNumber) {
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}

QString MessageOf(const std::exception& error) {
    if (const auto* own = dynamic_cast<const TError*>(&error))
        return own->Message();
    return QString::fromUtf8(error.what());
}
