#include "catalogue/CatalogueMatch.h"

#include <thread>

namespace {

// Below this many records a second thread costs more than it saves.
constexpr qsizetype ParallelRecords = 16384;

void Match(const TCatalogueRecords& records, const TLikePattern& pattern, qsizetype first, qsizetype end,
           std::vector<int>& found) {
    for (qsizetype i = first; i < end; ++i) {
        if (pattern.Matches(records.LowerName(i)))
            found.push_back(int(i));
    }
}

} // namespace

std::vector<int> MatchingRecords(const TCatalogueRecords& records, const TLikePattern& pattern) {
    const qsizetype count = records.Count();
    std::vector<int> found;
    if (count < ParallelRecords || std::thread::hardware_concurrency() < 2) {
        Match(records, pattern, 0, count, found);
        found.shrink_to_fit();
        return found;
    }
    const qsizetype half = count / 2;
    std::vector<int> upper;
    {
        // Both halves only read the records and the pattern.
        const std::jthread second([&] { Match(records, pattern, half, count, upper); });
        Match(records, pattern, 0, half, found);
    }
    found.reserve(found.size() + upper.size());
    found.insert(found.end(), upper.begin(), upper.end());
    found.shrink_to_fit();
    return found;
}
