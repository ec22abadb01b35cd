#pragma once

#include <QByteArray>
#include <QHash>
#include <QThread>

class QTcpServer;

// An HTTP server on loopback that answers listing requests with fixed documents, chosen by the
// request's marker parameter ("" for none; 404 for an unknown one). It
// serves what s3rver never sends: unreadable times, NextMarker, pages that do not move on. It runs on
// a thread of its own because the listing request blocks the test's thread.
class TFakeListingServer {
  public:
    explicit TFakeListingServer(const QHash<QByteArray, QByteArray>& pagesByMarker);
    ~TFakeListingServer();
    TFakeListingServer(const TFakeListingServer&) = delete;
    TFakeListingServer& operator=(const TFakeListingServer&) = delete;

    quint16 Port() const { return port_; }

  private:
    QThread thread_;
    QTcpServer* server_;
    quint16 port_ = 0;
};
