// What one matcher run's checks work out in a round, kept for the next
// rounds to reuse: most of their seeds, pairs, voters and neighbours are
// the previous round's again. Keyed by the segment indices involved (the
// (i, w) of each correspondence). A memo serves one pair of segment lists
// and one set of settings only. Private to the matcher: the stages'
// public headers name the memos, only the matcher's rounds fill them.
#pragma once

#include <opencv2/core.hpp>

#include <cstddef>
#include <optional>
#include <unordered_map>
#include <vector>

namespace linematch {

struct IndexListHash {
    std::size_t operator()(const std::vector<int>& key) const {
        std::size_t h = key.size();
        for (int v : key) h = h * 1000003u ^ static_cast<std::size_t>(static_cast<unsigned>(v));
        return h;
    }
};

// The seed checks (seed_checks.hpp).
struct SeedCheckMemo {
    using KeyHash = IndexListHash;
    using RecordMap = std::unordered_map<std::vector<int>, cv::Matx33d, KeyHash>;
    // (i, w) of the two seeds -> the pair's homography, when it has one.
    std::unordered_map<std::vector<int>, std::optional<cv::Matx33d>, KeyHash> pairHomographies;
    // (i, w) of the two seeds and of the kept voters, in the order the
    // refit takes them -> the record's homography after the refit.
    RecordMap records;
};

// The verification by neighbours (neighbour_verification.hpp): what it
// decided, by the correspondence and its neighbours (nearest first); a
// correspondence refused in one round often comes back in the next with
// the same neighbours.
struct VerificationMemo {
    std::unordered_map<std::vector<int>, char, IndexListHash> kept;
};

}  // namespace linematch
