#include "core/Curl.h"

#include "core/Text.h"

namespace {

bool IsBlankOrControl(char byte) {
    return IsBlank(byte) || byte == '\x7F';
}

QByteArrayView TrimmedBlanksAndControls(QByteArrayView text) {
    while (!text.isEmpty() && IsBlankOrControl(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && IsBlankOrControl(text.back()))
        text.chop(1);
    return text;
}

} // namespace

CurlHeaderList::~CurlHeaderList() {
    curl_slist_free_all(list_);
}

bool CurlHeaderList::Append(const QByteArray& line) {
    curl_slist* longer = curl_slist_append(list_, line.constData());
    if (longer == nullptr)
        return false;
    list_ = longer;
    return true;
}

std::optional<HttpHeaderField> SplitHeaderLine(QByteArrayView line) {
    const qsizetype colon = line.indexOf(':');
    if (colon < 1)
        return std::nullopt;
    return HttpHeaderField{TrimmedBlanksAndControls(line.first(colon)),
                           TrimmedBlanksAndControls(line.sliced(colon + 1))};
}
