#include "storage/S3TransferGroup.h"

#include "core/Error.h"
#include "storage/S3CurlTransfer.h"

#include <map>

namespace {

struct TCurlMultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};

// How long one wait for the sockets may last: the stop is looked at between waits.
constexpr int PollMilliseconds = 200;

} // namespace

struct TS3TransferGroup::TState {
    explicit TState(const TS3TransportLimits& limits)
        : Limits(limits)
        , Multi(curl_multi_init()) {}

    const TS3TransportLimits Limits;
    std::unique_ptr<CURLM, TCurlMultiDeleter> Multi;
    std::map<CURL*, std::pair<int, std::unique_ptr<TS3CurlTransfer>>> Running;

    ~TState() {
        // Every easy handle leaves the multi handle before either is cleaned up.
        for (auto& [handle, entry] : Running)
            curl_multi_remove_handle(Multi.get(), handle);
    }
};

TS3TransferGroup::TS3TransferGroup(const TS3TransportLimits& limits)
    : FState(std::make_unique<TState>(limits)) {
    if (!FState->Multi)
        throw TError(QStringLiteral("Error obtaining session handle"));
}

TS3TransferGroup::~TS3TransferGroup() = default;

void TS3TransferGroup::Start(int tag, const TS3Request& request, TS3BodySink& body, int bodyStatus) {
    auto transfer =
        std::make_unique<TS3CurlTransfer>(request, request.Url, &body, FState->Limits, bodyStatus);
    CURL* handle = transfer->Handle();
    if (curl_multi_add_handle(FState->Multi.get(), handle) != CURLM_OK)
        throw TError(QStringLiteral("Error opening request"));
    FState->Running.emplace(handle, std::pair(tag, std::move(transfer)));
}

int TS3TransferGroup::Running() const {
    return int(FState->Running.size());
}

std::vector<TS3TransferGroup::TEnded> TS3TransferGroup::WaitForEnded() {
    CURLM* multi = FState->Multi.get();
    std::vector<TEnded> ended;
    while (ended.empty() && !FState->Running.empty()) {
        if (FState->Limits.Stop.stop_requested())
            throw TOperationStopped(QStringLiteral("Stopped"));
        int active = 0;
        if (curl_multi_perform(multi, &active) != CURLM_OK)
            throw TError(QStringLiteral("Error reading data"));
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            const auto found = FState->Running.find(message->easy_handle);
            if (found == FState->Running.end())
                continue;
            auto& [tag, transfer] = found->second;
            const CURLcode result = message->data.result;
            TEnded end;
            end.Tag = tag;
            try {
                end.Response = transfer->Finish(result).Response;
            } catch (...) {
                end.Failure = std::current_exception();
                end.BrokeOff = transfer->BrokeOff(result);
            }
            curl_multi_remove_handle(multi, found->first);
            FState->Running.erase(found);
            // A stop ends the whole group, not one GET.
            if (end.Failure && !end.BrokeOff && FState->Limits.Stop.stop_requested())
                throw TOperationStopped(QStringLiteral("Stopped"));
            ended.push_back(std::move(end));
        }
        if (ended.empty() && curl_multi_poll(multi, nullptr, 0, PollMilliseconds, nullptr) != CURLM_OK)
            throw TError(QStringLiteral("Error reading data"));
    }
    return ended;
}
