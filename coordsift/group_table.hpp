// The memory of the linear-time grouping: for every integer pair that some
// group has, the last group opened with it. Open addressing with linear
// probing over a power-of-two array, kept at most half full, so a lookup
// touches one or two cache lines whatever the order of the points.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace coordsift {

class GroupTable {
public:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    GroupTable() : slots_(kInitialSlots), mask_(kInitialSlots - 1) {}

    // The last group recorded for (x, y), or kNone.
    std::size_t find(std::int32_t x, std::int32_t y) const {
        const std::uint64_t key = pack(x, y);
        for (std::size_t i = home(key);; i = (i + 1) & mask_) {
            const Slot& slot = slots_[i];
            if (slot.group == kNone) return kNone;
            if (slot.key == key) return slot.group;
        }
    }

    // Records group as the last one with (x, y), replacing an earlier group.
    // Throws std::bad_alloc when growing fails; the table is then unchanged.
    void assign(std::int32_t x, std::int32_t y, std::size_t group) {
        if (2 * (used_ + 1) > slots_.size()) grow();
        const std::uint64_t key = pack(x, y);
        std::size_t i = home(key);
        while (slots_[i].group != kNone && slots_[i].key != key) i = (i + 1) & mask_;
        if (slots_[i].group == kNone) ++used_;
        slots_[i] = Slot{key, group};
    }

private:
    struct Slot {
        std::uint64_t key = 0;
        std::size_t group = kNone;
    };
    static constexpr std::size_t kInitialSlots = 64;

    static std::uint64_t pack(std::int32_t x, std::int32_t y) {
        return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(x)) << 32) |
               static_cast<std::uint32_t>(y);
    }
    // Pixel grids give keys with long runs of equal high bits; the mixing
    // step of splitmix64 spreads them over the whole table.
    std::size_t home(std::uint64_t key) const {
        key ^= key >> 30;
        key *= 0xbf58476d1ce4e5b9ULL;
        key ^= key >> 27;
        key *= 0x94d049bb133111ebULL;
        key ^= key >> 31;
        return static_cast<std::size_t>(key) & mask_;
    }

    void grow() {
        std::vector<Slot> bigger(2 * slots_.size());
        const std::size_t mask = bigger.size() - 1;
        slots_.swap(bigger);
        mask_ = mask;
        for (const Slot& slot : bigger) {
            if (slot.group == kNone) continue;
            std::size_t i = home(slot.key);
            while (slots_[i].group != kNone) i = (i + 1) & mask_;
            slots_[i] = slot;
        }
    }

    std::vector<Slot> slots_;
    std::size_t mask_;
    std::size_t used_ = 0;
};

}  // namespace coordsift
