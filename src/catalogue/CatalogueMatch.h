#pragma once

#include "catalogue/CatalogueRecords.h"
#include "catalogue/LikePattern.h"

#include <vector>

// The indices of the records whose lower-case name the pattern matches, in order, in a vector of
// exactly their size. A large catalogue is matched in two halves side by side, so that the worst
// search over 100,000 long names stays well within a keystroke's wait on a machine of two cores.
std::vector<int> MatchingRecords(const TCatalogueRecords& records, const TLikePattern& pattern);
