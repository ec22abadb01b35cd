#include "catalogue/LikePattern.h"
#include "core/Text.h"

#include <QRandomGenerator>
#include <QTest>

#include <cstring>
#include <vector>

namespace {

// The matcher TLikePattern replaced, kept here as the reference its results must equal: it finds the
// pieces between the "%" signs one after another, each at its leftmost place, at a cost that grows with
// the text times the pattern.
class TReferenceLike {
  public:
    explicit TReferenceLike(const QByteArray& pattern) {
        FAnchoredAtStart = !pattern.startsWith('%');
        TPiece piece;
        qsizetype at = 0;
        while (at < pattern.size()) {
            const char c = pattern[at];
            if (c == '%') {
                if (!piece.Steps.empty())
                    FPieces.push_back(std::move(piece));
                piece = {};
                FAnchoredAtEnd = false;
                ++at;
                continue;
            }
            if (c == '\\' && ++at == pattern.size())
                break;
            FAnchoredAtEnd = true;
            ++piece.Characters;
            if (c == '_') {
                piece.Steps.push_back({true, {}});
                ++at;
                continue;
            }
            const qsizetype length = CharacterLength(pattern, at);
            if (piece.Steps.empty() || piece.Steps.back().AnyCharacter)
                piece.Steps.push_back({});
            piece.Steps.back().Literal.append(pattern.constData() + at, length);
            at += length;
        }
        if (!piece.Steps.empty())
            FPieces.push_back(std::move(piece));
    }

    bool Matches(const QByteArray& text) const {
        if (FPieces.empty())
            return !(FAnchoredAtStart && FAnchoredAtEnd) || text.isEmpty();
        qsizetype at = 0;
        size_t first = 0;
        size_t last = FPieces.size();
        if (FAnchoredAtStart) {
            if (!MatchPieceAt(FPieces.front(), text, 0, &at))
                return false;
            first = 1;
            if (FPieces.size() == 1 && FAnchoredAtEnd)
                return at == text.size();
        }
        if (FAnchoredAtEnd)
            last = FPieces.size() - 1;
        for (size_t i = first; i < last; ++i) {
            if (!FindPiece(FPieces[i], text, at, &at))
                return false;
        }
        if (!FAnchoredAtEnd)
            return true;
        const TPiece& tail = FPieces.back();
        qsizetype start = text.size();
        for (qsizetype n = 0; n < tail.Characters; ++n) {
            if (start <= at)
                return false;
            --start;
            while (start > at && IsContinuationByte(text[start]))
                --start;
        }
        qsizetype end = 0;
        return MatchPieceAt(tail, text, start, &end) && end == text.size();
    }

  private:
    struct TStep {
        bool AnyCharacter = false;
        QByteArray Literal;
    };
    struct TPiece {
        std::vector<TStep> Steps;
        qsizetype Characters = 0;
    };

    static qsizetype CharacterLength(const QByteArray& text, qsizetype at) {
        qsizetype next = at + 1;
        while (next < text.size() && IsContinuationByte(text[next]))
            ++next;
        return next - at;
    }

    static bool MatchPieceAt(const TPiece& piece, const QByteArray& text, qsizetype at, qsizetype* end) {
        for (const TStep& step : piece.Steps) {
            if (step.AnyCharacter) {
                if (at >= text.size())
                    return false;
                at += CharacterLength(text, at);
                continue;
            }
            const qsizetype length = step.Literal.size();
            if (text.size() - at < length ||
                memcmp(text.constData() + at, step.Literal.constData(), length) != 0)
                return false;
            at += length;
        }
        *end = at;
        return true;
    }

    static bool FindPiece(const TPiece& piece, const QByteArray& text, qsizetype from, qsizetype* end) {
        const TStep& head = piece.Steps.front();
        if (!head.AnyCharacter) {
            for (qsizetype start = text.indexOf(head.Literal, from); start >= 0;
                 start = text.indexOf(head.Literal, start + 1)) {
                if (MatchPieceAt(piece, text, start, end))
                    return true;
            }
            return false;
        }
        for (qsizetype start = from; start < text.size(); start += CharacterLength(text, start)) {
            if (MatchPieceAt(piece, text, start, end))
                return true;
        }
        return false;
    }

    std::vector<TPiece> FPieces;
    bool FAnchoredAtStart = true;
    bool FAnchoredAtEnd = true;
};

// A random text of up to maxCharacters characters drawn from the given ones.
QString RandomText(QRandomGenerator& random, const QStringList& alphabet, int maxCharacters) {
    QString text;
    for (int n = random.bounded(maxCharacters + 1); n > 0; --n)
        text += alphabet[random.bounded(int(alphabet.size()))];
    return text;
}

// "a_a_…": letters with a "_" between each, length characters in all, ending in last.
QString Alternating(int length, QChar last) {
    QString text;
    while (text.size() < length - 1)
        text += text.size() % 2 == 0 ? u'a' : u'_';
    return text + last;
}

} // namespace

class TestLikePattern : public QObject {
    Q_OBJECT

  private slots:
    void matches_data();
    void matches();
    void matchesAsTheReference_data();
    void matchesAsTheReference();
    void randomPatternsMatchAsTheReference();
};

void TestLikePattern::matches_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expected");

    QTest::newRow("contains") << "%db%"
                              << "backup_db_2023" << true;
    QTest::newRow("contains, absent") << "%db%"
                                      << "backup" << false;
    QTest::newRow("runs of % act as one") << "%%db%%"
                                          << "db" << true;
    QTest::newRow("pieces in order") << "%backup%2023%"
                                     << "BACKUP-x-2023" << false;
    QTest::newRow("pieces in order, lower") << "%backup%2023%"
                                            << "db-backup-2023" << true;
    QTest::newRow("pieces out of order") << "%backup%2023%"
                                         << "2023-backup" << false;
    QTest::newRow("anchored at start") << "db%"
                                       << "xdb" << false;
    QTest::newRow("anchored at end") << "%db"
                                     << "dbx" << false;
    QTest::newRow("anchored at end, matches") << "%db"
                                              << "xdbdb" << true;
    QTest::newRow("anchored both ends") << "db"
                                        << "db" << true;
    QTest::newRow("anchored both ends, longer text") << "db"
                                                     << "dbb" << false;
    QTest::newRow("start and end pieces may not overlap") << "ab%ba"
                                                          << "aba" << false;
    QTest::newRow("start and end pieces side by side") << "ab%ba"
                                                       << "abba" << true;
    QTest::newRow("underscore is one character") << "%db_1%"
                                                 << "db-1" << true;
    QTest::newRow("underscore needs a character") << "%db_1%"
                                                  << "db1" << false;
    QTest::newRow("underscore takes a whole non-ASCII character") << "a_b"
                                                                  << "aéb" << true;
    QTest::newRow("underscore takes an astral character") << "a_b"
                                                          << "a😀b" << true;
    QTest::newRow("two underscores are two characters") << "a__b"
                                                        << "aéb" << false;
    QTest::newRow("underscore at the anchored end") << "%é_"
                                                    << "xéé" << true;
    QTest::newRow("underscore at the anchored end, too short") << "%é_"
                                                               << "é" << false;
    QTest::newRow("asterisk is ordinary") << "%*.sql%"
                                          << "db.sql" << false;
    QTest::newRow("asterisk matches itself") << "%*.sql%"
                                             << "x*.sql" << true;
    QTest::newRow("question mark is ordinary") << "%a?%"
                                               << "ab" << false;
    QTest::newRow("escaped percent") << "%abc\\%"
                                     << "xabc%" << true;
    QTest::newRow("escaped percent is anchored") << "%abc\\%"
                                                 << "abc%x" << false;
    QTest::newRow("escaped percent is no wildcard") << "%abc\\%"
                                                    << "abcd" << false;
    QTest::newRow("escaped underscore") << "a\\_b"
                                        << "axb" << false;
    QTest::newRow("escaped underscore matches itself") << "a\\_b"
                                                       << "a_b" << true;
    QTest::newRow("escaped backslash") << "%a\\\\b%"
                                       << "a\\b" << true;
    QTest::newRow("backslash before a letter matches nothing") << "%a\\b%"
                                                               << "ab" << true;
    QTest::newRow("trailing backslash matches nothing") << "ab\\"
                                                        << "ab" << true;
    // A literal cut at its width can end in a backslash right after a "%".
    QTest::newRow("trailing backslash keeps the % before it open") << "ab%\\"
                                                                   << "abc" << true;
    QTest::newRow("comparison is exact") << "%DB%"
                                         << "db" << false;
    QTest::newRow("empty pattern, empty text") << ""
                                               << "" << true;
    QTest::newRow("empty pattern, some text") << ""
                                              << "a" << false;
    QTest::newRow("lone percent, empty text") << "%"
                                              << "" << true;
    QTest::newRow("non-ASCII pieces") << "%çé%ü"
                                      << "xçéyü" << true;

    // Each "%" would double the work of a backtracking matcher; this row finishes at once here.
    const QString manyPieces = QStringLiteral("%a").repeated(60) + QStringLiteral("%b");
    QTest::newRow("many % against a long text") << manyPieces << QString(20000, u'a') << false;
}

void TestLikePattern::matches() {
    QFETCH(QString, pattern);
    QFETCH(QString, text);
    QFETCH(bool, expected);
    QCOMPARE(TLikePattern(pattern.toUtf8()).Matches(text.toUtf8()), expected);
    QCOMPARE(TReferenceLike(pattern.toUtf8()).Matches(text.toUtf8()), expected);
}

// Patterns that make a matcher work hardest, and the places where the states cross a 64-bit word.
void TestLikePattern::matchesAsTheReference_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("texts");

    const QString runOfA(255, u'a');
    const QStringList longTexts{runOfA,
                                runOfA.left(254) + u'b',
                                runOfA.left(200) + u'b' + runOfA.left(54),
                                runOfA.left(127) + u'b',
                                QString(255, u'b'),
                                QString(),
                                QString(700, u'a') + u'b' + QString(299, u'a'),
                                Alternating(599, u'b') + u'a'};
    for (int length : {13, 63, 64, 65, 127, 128, 129, 191, 253, 255, 300, 599}) {
        const QString pattern = Alternating(length, u'b');
        QTest::addRow("a_a_…b, %d characters", length) << pattern << longTexts;
        QTest::addRow("%%a_a_…b%%, %d characters", length) << u'%' + pattern + u'%' << longTexts;
        QTest::addRow("%%a_a_…b, %d characters", length) << u'%' + pattern << longTexts;
        QTest::addRow("a_a_…b%%, %d characters", length) << pattern + u'%' << longTexts;
    }
    for (int pieces : {1, 63, 64, 126}) {
        QTest::addRow("%%a%%a%%…%%b%%, %d pieces", pieces)
            << QStringLiteral("%a").repeated(pieces) + QStringLiteral("%b%") << longTexts;
        QTest::addRow("a%%a%%…%%b, %d pieces", pieces)
            << QStringLiteral("a%").repeated(pieces) + u'b' << longTexts;
    }
    for (int length : {62, 63, 64, 65, 126, 127, 128, 252, 254, 255}) {
        QTest::addRow("%%aaa…ab%%, %d characters", length)
            << u'%' + QString(length - 1, u'a') + QStringLiteral("b%") << longTexts;
        QTest::addRow("%d times _", length) << QString(length, u'_') << longTexts;
        QTest::addRow("%d times _ then %%", length) << QString(length, u'_') + u'%' << longTexts;
    }
    const QStringList wide{QStringLiteral("é").repeated(100), QStringLiteral("😀é").repeated(60),
                           QStringLiteral("aé😀b"), QStringLiteral("é_😀%\\"), QString()};
    QTest::newRow("underscores over wide characters") << QString(100, u'_') << wide;
    QTest::newRow("wide pieces") << QStringLiteral("%é%😀%é_") << wide;
    QTest::newRow("wide characters and _ across a word") << QStringLiteral("é_").repeated(40) + u'%' << wide;
    QTest::newRow("escapes") << QStringLiteral("%\\\\%\\%_\\_") << wide;
}

void TestLikePattern::matchesAsTheReference() {
    QFETCH(QString, pattern);
    QFETCH(QStringList, texts);
    const TLikePattern like(pattern.toUtf8());
    const TReferenceLike reference(pattern.toUtf8());
    for (const QString& text : texts) {
        QCOMPARE(like.Matches(text.toUtf8()), reference.Matches(text.toUtf8()));
    }
}

// Short patterns and texts over a few characters, wide ones and the special ones included, so that
// every arrangement of "%", "_", escapes and letters comes up many times.
void TestLikePattern::randomPatternsMatchAsTheReference() {
    QRandomGenerator random(1234);
    const QStringList patternAlphabet{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("é"),
                                      QStringLiteral("😀"), QStringLiteral("_"), QStringLiteral("%"),
                                      QStringLiteral("\\")};
    const QStringList textAlphabet{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("é"),
                                   QStringLiteral("😀"), QStringLiteral("_"), QStringLiteral("%"),
                                   QStringLiteral("\\")};
    for (int round = 0; round < 20000; ++round) {
        const QByteArray pattern = RandomText(random, patternAlphabet, 10).toUtf8();
        const TLikePattern like(pattern);
        const TReferenceLike reference(pattern);
        for (int n = 0; n < 5; ++n) {
            const QByteArray text = RandomText(random, textAlphabet, 14).toUtf8();
            if (like.Matches(text) != reference.Matches(text))
                QFAIL(qPrintable(QStringLiteral("'%1' against '%2': %3 where the reference says %4")
                                     .arg(QString::fromUtf8(pattern), QString::fromUtf8(text))
                                     .arg(like.Matches(text))
                                     .arg(reference.Matches(text))));
        }
    }
}

QTEST_GUILESS_MAIN(TestLikePattern)
#include "TestLikePattern.moc"
