#include "core/Curl.h"

#include "core/Platform.h"
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

TCurlHeaderList::~TCurlHeaderList() {
    curl_slist_free_all(FList);
}

bool TCurlHeaderList::Append(const QByteArray& line) {
    curl_slist* longer = curl_slist_append(FList, line.constData());
    if (longer == nullptr)
        return false;
    FList = longer;
    return true;
}

std::optional<THttpHeaderField> SplitHeaderLine(QByteArrayView line) {
    const qsizetype colon = line.indexOf(':');
    if (colon < 1)
        return std::nullopt;
    return THttpHeaderField{TrimmedBlanksAndControls(line.first(colon)),
                            TrimmedBlanksAndControls(line.sliced(colon + 1))};
}

CURLcode UseUserNetworkSettings(CURL* handle, const QByteArray& url) {
    if (const std::optional<QString> proxy = UserProxyFor(QString::fromUtf8(url))) {
        if (const CURLcode code = curl_easy_setopt(handle, CURLOPT_PROXY, proxy->toUtf8().constData());
            code != CURLE_OK)
            return code;
    }
#ifdef Q_OS_WIN
    return curl_easy_setopt(handle, CURLOPT_SSL_OPTIONS, long(CURLSSLOPT_REVOKE_BEST_EFFORT));
#else
    return CURLE_OK;
#endif
}
