// Keys of the memos that carry work from one transfer round to the next: a
// list of segment indices (the (i, w) of the correspondences involved).
#pragma once

#include <cstddef>
#include <vector>

namespace linematch {

struct IndexListHash {
    std::size_t operator()(const std::vector<int>& key) const {
        std::size_t h = key.size();
        for (int v : key) h = h * 1000003u ^ static_cast<std::size_t>(static_cast<unsigned>(v));
        return h;
    }
};

}  // namespace linematch
