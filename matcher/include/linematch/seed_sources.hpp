// Seeds from several sources in one list. A source earlier in the list
// wins: a later seed that gives one of an earlier seed's segments another
// partner is left out, so that the checks never see two claims about one
// segment from two sources.
#pragma once

#include "linematch/types.hpp"

#include <vector>

namespace linematch {

enum class SeedSource { given = 0, point = 1, lbd = 2 };
constexpr int kSeedSources = 3;
const char* seedSourceName(SeedSource source);

struct SourcedSeeds {
    std::vector<SegmentMatch> seeds;   // by increasing (image-1, image-2) segment
    std::vector<SeedSource> source;    // per seed
};

struct SeedList {
    SeedSource source;
    const std::vector<SegmentMatch>* seeds;
};

SourcedSeeds combineSeeds(const std::vector<SeedList>& lists);

}  // namespace linematch
