#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <curl/curl.h>

#include <memory>
#include <optional>

// Owners for libcurl's handles, and the reading of the header lines libcurl hands over, shared by the
// account sign-in, the S3 transport and the test servers' clients.

struct TCurlEasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
// An easy handle, cleaned up when it goes.
using TCurlEasy = std::unique_ptr<CURL, TCurlEasyDeleter>;

struct TCurlUrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
// A URL handle, cleaned up when it goes.
using TCurlUrl = std::unique_ptr<CURLU, TCurlUrlDeleter>;

// A request's own header lines (CURLOPT_HTTPHEADER), freed when the list goes. It must outlive the
// transfers that use it.
class TCurlHeaderList {
  public:
    TCurlHeaderList() = default;
    ~TCurlHeaderList();
    TCurlHeaderList(const TCurlHeaderList&) = delete;
    TCurlHeaderList& operator=(const TCurlHeaderList&) = delete;

    // Adds "Name: value" (or "Name:" to drop a header libcurl would add). False when libcurl is out of
    // memory; the list then stays as it was.
    bool Append(const QByteArray& line);
    curl_slist* List() const { return FList; }

  private:
    curl_slist* FList = nullptr;
};

// Makes a request to url go as the system's other programs' requests go: through the proxy the user
// chose (UserProxyFor), and on Windows with a certificate revocation check that lets a certificate pass
// when its revocation server cannot be reached (behind a TLS-inspecting proxy, or offline), as Git for
// Windows does; a certificate known to be revoked still fails. The first error libcurl gives, or CURLE_OK.
CURLcode UseUserNetworkSettings(CURL* handle, const QByteArray& url);

// One header of an answer. The views point into the line given to SplitHeaderLine.
struct THttpHeaderField {
    QByteArrayView Name;
    QByteArrayView Value;
};

// Splits an answer's header line at its first ":": the name before it, the value after it, both
// trimmed of blanks and control characters (codes up to 32, and 127), line end included. Nothing for
// a line without ":" after its first character, such as the end of the header or most status lines.
std::optional<THttpHeaderField> SplitHeaderLine(QByteArrayView line);
