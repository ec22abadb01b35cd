#include "core/RegexReplace.h"

#include "core/Error.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <memory>

namespace {

struct TCompileContextDeleter {
    void operator()(pcre2_compile_context* context) const { pcre2_compile_context_free(context); }
};
struct TCodeDeleter {
    void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct TMatchDataDeleter {
    void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};

using TCompileContext = std::unique_ptr<pcre2_compile_context, TCompileContextDeleter>;
using TCode = std::unique_ptr<pcre2_code, TCodeDeleter>;
using TMatchData = std::unique_ptr<pcre2_match_data, TMatchDataDeleter>;

QString ErrorText(int errorCode) {
    PCRE2_UCHAR buffer[256];
    const int length = pcre2_get_error_message(errorCode, buffer, sizeof buffer);
    if (length < 0)
        return QStringLiteral("error %1").arg(errorCode);
    return QString::fromUtf8(reinterpret_cast<const char*>(buffer), length);
}

// UTF-8 mode; every Unicode line ending is a newline; without PCRE2_UCP the classes \d, \s and \w keep
// to ASCII. Both texts come from QString, so they are valid UTF-8 and need no second check.
TCode Compile(const QByteArray& pattern) {
    TCompileContext context(pcre2_compile_context_create(nullptr));
    if (!context)
        throw TError(QStringLiteral("Out of memory compiling a regular expression"));
    pcre2_set_newline(context.get(), PCRE2_NEWLINE_ANY);

    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    TCode code(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.constData()), pattern.size(),
                             PCRE2_UTF | PCRE2_NO_UTF_CHECK, &errorCode, &errorOffset, context.get()));
    if (!code) {
        throw TError(QStringLiteral("Error in regular expression at offset %1: %2")
                         .arg(errorOffset)
                         .arg(ErrorText(errorCode)));
    }
    return code;
}

} // namespace

QString ReplaceAll(const QString& input, const QString& pattern, const QString& replacement) {
    const TCode code = Compile(pattern.toUtf8());
    const TMatchData match(pcre2_match_data_create_from_pattern(code.get(), nullptr));
    if (!match)
        throw TError(QStringLiteral("Out of memory matching a regular expression"));

    const QByteArray subject = input.toUtf8();
    const QByteArray inserted = replacement.toUtf8();
    const auto* text = reinterpret_cast<PCRE2_SPTR>(subject.constData());
    QByteArray result;
    PCRE2_SIZE copiedUpTo = 0;
    for (;;) {
        const int rc = pcre2_match(code.get(), text, subject.size(), copiedUpTo,
                                   PCRE2_NOTEMPTY | PCRE2_NO_UTF_CHECK, match.get(), nullptr);
        if (rc == PCRE2_ERROR_NOMATCH)
            break;
        if (rc < 0) {
            throw TError(QStringLiteral("Error in regular expression: %1").arg(ErrorText(rc)));
        }
        // Not-empty matching guarantees that every match ends after it starts, so the search advances.
        const PCRE2_SIZE* bounds = pcre2_get_ovector_pointer(match.get());
        result.append(subject.constData() + copiedUpTo, bounds[0] - copiedUpTo);
        result.append(inserted);
        copiedUpTo = bounds[1];
    }
    if (copiedUpTo == 0)
        return input;
    result.append(subject.constData() + copiedUpTo, subject.size() - copiedUpTo);
    return QString::fromUtf8(result);
}
