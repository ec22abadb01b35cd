// Hashes one buffer of SIZE_MIB (default 1024) MiB with QtCore and with OpenSSL, SHA-256 and MD5, fed in
// the 64 KiB blocks a download hands over, and times many HMAC-SHA256 of a request-sized message: the
// figures decide whether one QtCore implementation serves both platforms. Prints MiB/s side by side,
// the medians of five runs taken in turn (QtCore, OpenSSL, QtCore, ...), and checks that both sides agree on
// every digest.

#include <QByteArray>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <utility>
#include <vector>

namespace {

constexpr qsizetype BlockSize = 64 * 1024;
constexpr int Runs = 5;
constexpr int HmacCount = 200000;

QByteArray QtDigest(const QByteArray& buffer, QCryptographicHash::Algorithm algorithm) {
    QCryptographicHash hash(algorithm);
    for (qsizetype at = 0; at < buffer.size(); at += BlockSize)
        hash.addData(QByteArrayView(buffer).sliced(at, std::min(BlockSize, buffer.size() - at)));
    return hash.result();
}

QByteArray OpenSslDigest(const QByteArray& buffer, const EVP_MD* algorithm) {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    EVP_DigestInit_ex(context, algorithm, nullptr);
    for (qsizetype at = 0; at < buffer.size(); at += BlockSize)
        EVP_DigestUpdate(context, buffer.constData() + at, size_t(std::min(BlockSize, buffer.size() - at)));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context, digest, &length);
    EVP_MD_CTX_free(context);
    return QByteArray(reinterpret_cast<const char*>(digest), length);
}

// The two works timed in turn, Runs times each, and each one's median, in seconds; the results keep what
// each returned last.
std::pair<double, double> MedianSeconds(const std::function<QByteArray()>& first, QByteArray& firstResult,
                                        const std::function<QByteArray()>& second, QByteArray& secondResult) {
    std::vector<double> firstTimes;
    std::vector<double> secondTimes;
    const auto timed = [](const std::function<QByteArray()>& work, QByteArray& result) {
        QElapsedTimer timer;
        timer.start();
        result = work();
        return double(timer.nsecsElapsed()) / 1e9;
    };
    for (int run = 0; run < Runs; ++run) {
        firstTimes.push_back(timed(first, firstResult));
        secondTimes.push_back(timed(second, secondResult));
    }
    const auto median = [](std::vector<double>& times) {
        std::sort(times.begin(), times.end());
        return times[times.size() / 2];
    };
    return {median(firstTimes), median(secondTimes)};
}

bool CompareDigests(const char* name, const QByteArray& buffer, QCryptographicHash::Algorithm qtAlgorithm,
                    const EVP_MD* sslAlgorithm) {
    QByteArray qtResult;
    QByteArray sslResult;
    const double mib = double(buffer.size()) / (1024 * 1024);
    const auto [qt, ssl] = MedianSeconds([&] { return QtDigest(buffer, qtAlgorithm); }, qtResult,
                                         [&] { return OpenSslDigest(buffer, sslAlgorithm); }, sslResult);
    std::printf("%-12s QtCore %8.1f MiB/s   OpenSSL %8.1f MiB/s   QtCore/OpenSSL %.2f\n", name, mib / qt,
                mib / ssl, ssl / qt);
    return qtResult == sslResult;
}

bool CompareHmac() {
    const QByteArray key(32, 'k');
    const QByteArray message(400, 'm');
    QByteArray qtResult;
    QByteArray sslResult;
    const auto [qt, ssl] = MedianSeconds(
        [&] {
            QByteArray mac;
            for (int i = 0; i < HmacCount; ++i)
                mac = QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Sha256);
            return mac;
        },
        qtResult,
        [&] {
            unsigned char mac[EVP_MAX_MD_SIZE];
            unsigned int length = 0;
            for (int i = 0; i < HmacCount; ++i)
                HMAC(EVP_sha256(), key.constData(), int(key.size()),
                     reinterpret_cast<const unsigned char*>(message.constData()), size_t(message.size()), mac,
                     &length);
            return QByteArray(reinterpret_cast<const char*>(mac), length);
        },
        sslResult);
    std::printf("%-12s QtCore %8.2f us/op  OpenSSL %8.2f us/op  QtCore/OpenSSL %.2f\n", "HMAC-SHA256",
                qt * 1e6 / HmacCount, ssl * 1e6 / HmacCount, ssl / qt);
    return qtResult == sslResult;
}

} // namespace

int main() {
    const char* sizeText = std::getenv("SIZE_MIB");
    const qsizetype sizeMib = sizeText ? std::atoll(sizeText) : 1024;
    QByteArray buffer(sizeMib * 1024 * 1024, Qt::Uninitialized);
    QRandomGenerator generator(20240101);
    generator.fillRange(reinterpret_cast<quint32*>(buffer.data()),
                        buffer.size() / qsizetype(sizeof(quint32)));

    std::printf("buffer: %lld MiB in %lld KiB blocks, medians of %d runs in turn\n",
                static_cast<long long>(sizeMib), static_cast<long long>(BlockSize / 1024), Runs);
    bool agree = CompareDigests("SHA-256", buffer, QCryptographicHash::Sha256, EVP_sha256());
    agree = CompareDigests("MD5", buffer, QCryptographicHash::Md5, EVP_md5()) && agree;
    agree = CompareHmac() && agree;
    if (!agree) {
        std::fprintf(stderr, "QtCore and OpenSSL disagree on a digest\n");
        return 1;
    }
    return 0;
}
