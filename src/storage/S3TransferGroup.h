#pragma once

#include "storage/S3HttpTransport.h"

#include <exception>
#include <memory>
#include <vector>

// GETs carried out side by side on the calling thread through libcurl's multi interface, which also
// keeps their connections open for the GETs started after them. No redirect is followed: an answer of
// any status is handed back as it came.
class TS3TransferGroup {
  public:
    // How one GET ended: its answer, or the failure that Failure rethrows.
    struct TEnded {
        int Tag = 0;
        TS3HttpResponse Response;
        std::exception_ptr Failure;
        bool BrokeOff = false; // the failure was a broken connection: the GET may be asked for again
    };

    explicit TS3TransferGroup(const TS3TransportLimits& limits);
    ~TS3TransferGroup();
    TS3TransferGroup(const TS3TransferGroup&) = delete;
    TS3TransferGroup& operator=(const TS3TransferGroup&) = delete;

    // Starts a GET, known by tag, whose body goes to body when the answer's status is bodyStatus (other
    // answers' bodies are dropped). body must outlive the GET. Throws TError when it cannot be started.
    void Start(int tag, const TS3Request& request, TS3BodySink& body, int bodyStatus);
    int Running() const;
    // Moves the GETs on until at least one has ended and returns those that did. A stop asked for
    // through the limits ends them all within a second with TOperationStopped.
    std::vector<TEnded> WaitForEnded();

  private:
    struct TState;
    std::unique_ptr<TState> FState;
};
