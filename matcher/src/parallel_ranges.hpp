// Runs work over [0, count) cut into contiguous ranges, one per thread, the
// calling thread taking the first. Each call sees (begin, end, part) with
// part in [0, parts): results written per part and joined in part order do
// not depend on the thread count, so callers stay deterministic. The first
// exception thrown by any part is rethrown once all threads have ended.
#pragma once

#include <algorithm>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace linematch {

// The number of parts parallelRanges cuts count items into for threads
// (at least 1, at most count, and none smaller than minPerPart items).
inline int rangeParts(int count, int threads, int minPerPart = 1) {
    const int byWork = std::max(1, count / std::max(1, minPerPart));
    return std::max(1, std::min(threads, byWork));
}

template <class Work>
void parallelRanges(int count, int parts, const Work& work) {
    parts = std::max(1, std::min(parts, std::max(count, 1)));
    const auto range = [&](int p) {
        const long long begin = static_cast<long long>(count) * p / parts;
        const long long end = static_cast<long long>(count) * (p + 1) / parts;
        work(static_cast<int>(begin), static_cast<int>(end), p);
    };
    if (parts == 1) {
        range(0);
        return;
    }
    std::exception_ptr failure;
    std::mutex failureMutex;
    const auto guarded = [&](int p) {
        try {
            range(p);
        } catch (...) {
            std::lock_guard<std::mutex> lock(failureMutex);
            if (!failure) failure = std::current_exception();
        }
    };
    std::vector<std::thread> pool;
    pool.reserve(static_cast<std::size_t>(parts - 1));
    try {
        for (int p = 1; p < parts; ++p) pool.emplace_back(guarded, p);
    } catch (...) {
        // No thread could be started: the parts not handed out run here.
        for (int p = static_cast<int>(pool.size()) + 1; p < parts; ++p) guarded(p);
    }
    guarded(0);
    for (std::thread& t : pool) t.join();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace linematch
