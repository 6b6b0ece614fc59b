#include "linematch/seed_sources.hpp"

#include <algorithm>
#include <numeric>
#include <set>

namespace linematch {

const char* seedSourceName(SeedSource source) {
    switch (source) {
    case SeedSource::given: return "given";
    case SeedSource::point: return "point";
    case SeedSource::lbd: return "lbd";
    }
    return "unknown";
}

SourcedSeeds combineSeeds(const std::vector<SeedList>& lists) {
    std::vector<SegmentMatch> seeds;
    std::vector<SeedSource> sources;
    std::set<int> used1, used2;
    for (const SeedList& list : lists) {
        // Segments this source claims; several claims of one source about a
        // segment are all kept (the checks sort them out), claims of later
        // sources about it are not.
        std::set<int> claimed1, claimed2;
        for (const SegmentMatch& m : *list.seeds) {
            if (used1.count(m.image1Segment) || used2.count(m.image2Segment)) continue;
            seeds.push_back(m);
            sources.push_back(list.source);
            claimed1.insert(m.image1Segment);
            claimed2.insert(m.image2Segment);
        }
        used1.insert(claimed1.begin(), claimed1.end());
        used2.insert(claimed2.begin(), claimed2.end());
    }
    std::vector<std::size_t> order(seeds.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return seeds[a] < seeds[b]; });
    SourcedSeeds out;
    for (std::size_t k : order) {
        if (!out.seeds.empty() && out.seeds.back() == seeds[k]) continue;
        out.seeds.push_back(seeds[k]);
        out.source.push_back(sources[k]);
    }
    return out;
}

}  // namespace linematch
