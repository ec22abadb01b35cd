#pragma once

#include <QByteArrayView>
#include <QList>
#include <QPair>
#include <QString>

#include <memory>
#include <vector>

// One listed object as the catalogue reads it: views into the page that holds it.
struct TS3ListedObject {
    QByteArrayView Key; // UTF-8, exactly the key's characters
    QByteArrayView LastModified;
    qint64 Size = 0;
};

// One page of a listing read for its keys alone, in place in the bytes received: the views of its
// objects stay valid while the page lives.
struct TS3ListingPage {
    TS3ListingPage();
    ~TS3ListingPage();
    TS3ListingPage(TS3ListingPage&&) noexcept;
    TS3ListingPage& operator=(TS3ListingPage&&) noexcept;

    bool IsTruncated = false;
    QByteArrayView NextMarker;
    // The page's last key, also when it was left out: a listing without NextMarker goes on after it.
    QByteArrayView LastKey;
    std::vector<TS3ListedObject> Objects;
    int SkippedKeys = 0; // keys left out: they hold a NUL character or bytes that are not text

    struct TStorage; // the received bytes, parsed in place, and the texts that had to be resolved
    std::unique_ptr<TStorage> Storage;
};

// The Code and Message of an S3 error document, kept when a listing is refused.
struct TS3ErrorDocument {
    QString Code;
    QString Message;
};

// Ordered name=value list; names are looked up without regard to letter case.
class TS3NameValueList {
  public:
    void Add(const QString& name, const QString& value) { FEntries.append({name, value}); }
    bool Contains(const QString& name) const;
    QString Value(const QString& name) const; // empty when absent
    const QList<QPair<QString, QString>>& Entries() const { return FEntries; }
    bool IsEmpty() const { return FEntries.isEmpty(); }
    void Clear() { FEntries.clear(); }

  private:
    QList<QPair<QString, QString>> FEntries;
};

// Query parameters of a listing, name and value, in the order given.
using TS3QueryParams = QList<QPair<QString, QString>>;
