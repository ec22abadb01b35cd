#include "storage/S3TransferGroup.h"

#include "core/Error.h"
#include "storage/S3CurlTransfer.h"

#include <map>

namespace {

struct CurlMultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};

// How long one wait for the sockets may last: the stop is looked at between waits.
constexpr int PollMilliseconds = 200;

} // namespace

struct TS3TransferGroup::State {
    explicit State(const TS3TransportLimits& limits)
        : limits(limits)
        , multi(curl_multi_init()) {}

    const TS3TransportLimits limits;
    std::unique_ptr<CURLM, CurlMultiDeleter> multi;
    std::map<CURL*, std::pair<int, std::unique_ptr<TS3CurlTransfer>>> running;

    ~State() {
        // Every easy handle leaves the multi handle before either is cleaned up.
        for (auto& [handle, entry] : running)
            curl_multi_remove_handle(multi.get(), handle);
    }
};

TS3TransferGroup::TS3TransferGroup(const TS3TransportLimits& limits)
    : state_(std::make_unique<State>(limits)) {
    if (!state_->multi)
        throw Error(QStringLiteral("Error obtaining session handle"));
}

TS3TransferGroup::~TS3TransferGroup() = default;

void TS3TransferGroup::Start(int tag, const TS3Request& request, TS3BodySink& body, int bodyStatus) {
    auto transfer =
        std::make_unique<TS3CurlTransfer>(request, request.Url, &body, state_->limits, bodyStatus);
    CURL* handle = transfer->Handle();
    if (curl_multi_add_handle(state_->multi.get(), handle) != CURLM_OK)
        throw Error(QStringLiteral("Error opening request"));
    state_->running.emplace(handle, std::pair(tag, std::move(transfer)));
}

int TS3TransferGroup::Running() const {
    return int(state_->running.size());
}

std::vector<TS3TransferGroup::Ended> TS3TransferGroup::WaitForEnded() {
    CURLM* multi = state_->multi.get();
    std::vector<Ended> ended;
    while (ended.empty() && !state_->running.empty()) {
        if (state_->limits.stop.stop_requested())
            throw OperationStopped(QStringLiteral("Stopped"));
        int active = 0;
        if (curl_multi_perform(multi, &active) != CURLM_OK)
            throw Error(QStringLiteral("Error reading data"));
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            const auto found = state_->running.find(message->easy_handle);
            if (found == state_->running.end())
                continue;
            auto& [tag, transfer] = found->second;
            const CURLcode result = message->data.result;
            Ended end;
            end.Tag = tag;
            try {
                end.Response = transfer->Finish(result).Response;
            } catch (...) {
                end.Failure = std::current_exception();
                end.BrokeOff = transfer->BrokeOff(result);
            }
            curl_multi_remove_handle(multi, found->first);
            state_->running.erase(found);
            // A stop ends the whole group, not one GET.
            if (end.Failure && !end.BrokeOff && state_->limits.stop.stop_requested())
                throw OperationStopped(QStringLiteral("Stopped"));
            ended.push_back(std::move(end));
        }
        if (ended.empty() && curl_multi_poll(multi, nullptr, 0, PollMilliseconds, nullptr) != CURLM_OK)
            throw Error(QStringLiteral("Error reading data"));
    }
    return ended;
}
