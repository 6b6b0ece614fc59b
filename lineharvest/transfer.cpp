// The candidate transfer on plain doubles: known matches and written
// matches are kept per image-1 segment, each image-2 segment's line is
// computed once, and the image-1 segments are shared out among threads in
// blocks whose results are joined in order.
#include "lineharvest/transfer.hpp"

#include "cell_lookup.hpp"
#include "geometry.hpp"
#include "segment_match.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <exception>
#include <fstream>
#include <mutex>
#include <ostream>
#include <thread>

namespace lineharvest {

namespace {

// Image-1 segments per unit of work handed to a thread.
constexpr int kBlockSize = 256;

std::string number(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.17g", value);
    return buffer;
}

// An index read from a double, by truncation toward zero, that must lie in
// [0, limit). NaN fails both comparisons. Values in (-1, 0) truncate to 0,
// which is an index only when the range is not empty.
bool isIndexBelow(double value, int limit) {
    return limit > 0 && value > -1.0 && value < static_cast<double>(limit);
}

void checkCount(int count, const void* data, const char* what) {
    if (count < 0) throw HarvestError(ErrorKind::badCount, std::string("the number of ") + what + " must not be negative, got " + std::to_string(count));
    if (count > 0 && data == nullptr) throw HarvestError(ErrorKind::badCount, std::string("the ") + what + " have no data for " + std::to_string(count) + " entries");
}

void checkThreshold(double value, const char* name) {
    if (std::isnan(value)) throw HarvestError(ErrorKind::badScalar, std::string("the ") + name + " must not be NaN");
}

// The homography of a pair record applied to (x, y, 1), then divided by the
// third coordinate, in the matrix library's own order of operations: the
// product sums its three terms in order, and the division by a scalar is a
// multiplication by the reciprocal followed by adding 0 (which turns -0 into
// +0).
inline void mapEndpoint(const double* h, double x, double y, double* out) {
    const double u = (h[0] * x + h[1] * y) + h[2] * 1.0;
    const double v = (h[3] * x + h[4] * y) + h[5] * 1.0;
    const double w = (h[6] * x + h[7] * y) + h[8] * 1.0;
    const double scale = 1.0 / w;
    out[0] = u * scale + 0.0;
    out[1] = v * scale + 0.0;
}

// The matches named by the pair records, grouped by image-1 segment.
struct KnownMatches {
    std::vector<std::size_t> offsets;  // numSegments1 + 1
    std::vector<int> image2;

    KnownMatches(const PairRecordArray& records, int numSegments1) : offsets(static_cast<std::size_t>(numSegments1) + 2, 0) {
        for (int r = 0; r < records.count; ++r) {
            const PairRecord& record = records[r];
            ++offsets[static_cast<std::size_t>(static_cast<int>(record.image1SegmentA)) + 2];
            ++offsets[static_cast<std::size_t>(static_cast<int>(record.image1SegmentB)) + 2];
        }
        for (std::size_t k = 2; k < offsets.size(); ++k) offsets[k] += offsets[k - 1];
        image2.resize(offsets.back());
        for (int r = 0; r < records.count; ++r) {
            const PairRecord& record = records[r];
            image2[offsets[static_cast<std::size_t>(static_cast<int>(record.image1SegmentA)) + 1]++] =
                static_cast<int>(record.image2SegmentA);
            image2[offsets[static_cast<std::size_t>(static_cast<int>(record.image1SegmentB)) + 1]++] =
                static_cast<int>(record.image2SegmentB);
        }
        offsets.pop_back();
    }
};

// The grid's cells once more, each cell's entries ordered by the direction
// of their segments, for grids whose cells hold many segments (long ones
// crossing the whole image: each lookup would otherwise meet most of the
// segments, whatever their direction). The directions are cut into classes
// at least as wide as the angle threshold, so a segment that can pass the
// angle test lies in the mapped segment's class or a neighbouring one; a
// segment without a direction (zero length, or not finite) is in the extra class
// `classes`, which every lookup reads (its angle test cannot fail).
struct DirectedCells {
    int classes = 0;  // 0: not built, every entry of a cell is looked at
    std::vector<int> entries;
    std::vector<unsigned char> entryClass;

    static constexpr int kMaxClasses = 64;
    // Entries per non-empty cell from which the ordered copy pays.
    static constexpr double kDenseCell = 4.0;

    // The direction class of the segment (x1 y1 x2 y2), or `classes` when it
    // has no direction.
    int classOf(const double* s) const {
        const double dx = s[2] - s[0], dy = s[3] - s[1];
        // Infinite or NaN coordinates make the angle test NaN, which passes;
        // a length near the underflow makes it 0.
        if (!std::isfinite(dx) || !std::isfinite(dy) || std::fabs(dx) + std::fabs(dy) < 1e-100) return classes;
        const double angle = std::atan2(dy, dx);
        const int c = static_cast<int>(std::floor((angle + kPi) / (2 * kPi) * classes));
        return std::min(std::max(c, 0), classes - 1);
    }

    DirectedCells(const GridIndex& grid, SegmentArray segments2, double maxAngle) {
        std::size_t used = 0;
        for (std::size_t c = 0; c < grid.numCells(); ++c) used += grid.cellEnd(c) != grid.cellBegin(c);
        if (used == 0 || static_cast<double>(grid.numEntries()) < kDenseCell * static_cast<double>(used)) return;
        // Classes a little wider than the threshold, so that rounding in the
        // angle test cannot reach past the neighbouring class.
        const double width = maxAngle * (1 + 1e-6) + 1e-9;
        if (!(width > 0)) return;
        const double fit = std::floor(2 * kPi / width);
        if (!(fit >= 4)) return;  // with three classes or fewer every class is a neighbour
        classes = static_cast<int>(std::min<double>(fit, kMaxClasses));
        std::vector<unsigned char> segmentClass(static_cast<std::size_t>(segments2.count));
        for (int w = 0; w < segments2.count; ++w)
            segmentClass[static_cast<std::size_t>(w)] =
                static_cast<unsigned char>(classOf(segments2.data + 4 * static_cast<std::size_t>(w)));
        entries.assign(grid.cellBegin(0), grid.cellBegin(0) + grid.numEntries());
        entryClass.resize(entries.size());
        for (std::size_t c = 0; c < grid.numCells(); ++c) {
            const auto begin = entries.begin() + (grid.cellBegin(c) - grid.cellBegin(0));
            const auto end = entries.begin() + (grid.cellEnd(c) - grid.cellBegin(0));
            std::stable_sort(begin, end, [&](int a, int b) {
                return segmentClass[static_cast<std::size_t>(a)] < segmentClass[static_cast<std::size_t>(b)];
            });
            for (auto e = begin; e != end; ++e)
                entryClass[static_cast<std::size_t>(e - entries.begin())] = segmentClass[static_cast<std::size_t>(*e)];
        }
    }

    static constexpr double kPi = 3.14159265358979323846;
};

class Transfer {
public:
    Transfer(const TransferInput& input, const GridIndex& grid)
        : input_(input), grid_(grid), known_(input.pairRecords, input.segments1.count),
          lines_(3 * static_cast<std::size_t>(input.segments2.count)),
          directed_(grid, input.segments2, input.thresholds.maxAngleDifference) {
        for (int w = 0; w < input.segments2.count; ++w) {
            lineThroughSegment(input.segments2.data + 4 * static_cast<std::size_t>(w),
                               &lines_[3 * static_cast<std::size_t>(w)]);
        }
    }

    // The correspondences of image-1 segments [begin, end), in file order.
    class Worker {
    public:
        explicit Worker(const Transfer& t)
            : t_(t), scratch_(t.input_.segments2.count),
              flaggedFor_(static_cast<std::size_t>(t.input_.segments2.count), -1) {}

        void run(int begin, int end, std::vector<Correspondence>& out) {
            const TransferInput& in = t_.input_;
            const int perSegment = in.pairIndexTable.pairsPerSegment;
            for (int i = begin; i < end; ++i) {
                // (i, w) is flagged when flaggedFor_[w] == i: known from a
                // pair record, or written earlier for this i.
                for (std::size_t k = t_.known_.offsets[static_cast<std::size_t>(i)]; k < t_.known_.offsets[static_cast<std::size_t>(i) + 1]; ++k)
                    flaggedFor_[static_cast<std::size_t>(t_.known_.image2[k])] = i;
                const double* segment = in.segments1.data + 4 * static_cast<std::size_t>(i);
                const double* row = in.pairIndexTable.data + static_cast<std::size_t>(i) * static_cast<std::size_t>(perSegment);
                for (int j = 0; j < perSegment; ++j) {
                    const int r = static_cast<int>(row[j]);
                    const double* h = in.pairRecords[r].homography;
                    double mapped[4];
                    mapEndpoint(h, segment[0], segment[1], mapped);
                    mapEndpoint(h, segment[2], segment[3], mapped + 2);
                    // NaN, infinite and beyond-int coordinates cannot be rasterised.
                    if (!truncatesToInt(mapped[0]) || !truncatesToInt(mapped[1]) || !truncatesToInt(mapped[2]) ||
                        !truncatesToInt(mapped[3]))
                        continue;
                    const double dx = mapped[0] - mapped[2], dy = mapped[1] - mapped[3];
                    if (dx * dx + dy * dy > kMaxSquaredMappedLength) continue;

                    collect(mapped, i);
                    double meanDistance = 0;
                    for (int w : candidates_) {
                        const double* candidate = in.segments2.data + 4 * static_cast<std::size_t>(w);
                        if (isSegmentMatch(mapped, candidate, &t_.lines_[3 * static_cast<std::size_t>(w)], in.thresholds,
                                           &meanDistance)) {
                            out.push_back({i, w, r});
                            flaggedFor_[static_cast<std::size_t>(w)] = i;
                            break;
                        }
                    }
                }
            }
        }

    private:
        // The unflagged image-2 segments in the cells the mapped segment
        // crosses, ascending; with the directed cells, only those whose
        // direction can pass the angle test.
        void collect(const double* mapped, int i) {
            const auto flagged = [this, i](int w) { return flaggedFor_[static_cast<std::size_t>(w)] == i; };
            const DirectedCells& d = t_.directed_;
            const int own = d.classes ? d.classOf(mapped) : 0;
            if (d.classes == 0 || own == d.classes) {
                collectCellCandidates(t_.grid_, mapped[0], mapped[1], mapped[2], mapped[3], scratch_, candidates_,
                                      flagged);
                return;
            }
            const int wanted[4] = {(own + d.classes - 1) % d.classes, own, (own + 1) % d.classes, d.classes};
            const int* const first = t_.grid_.numCells() ? t_.grid_.cellBegin(0) : nullptr;
            candidates_.clear();
            scratch_.nextLookup();
            forEachCrossedCell(t_.grid_, mapped[0], mapped[1], mapped[2], mapped[3], scratch_, [&](std::size_t c) {
                const unsigned char* const classBegin = d.entryClass.data() + (t_.grid_.cellBegin(c) - first);
                const unsigned char* const classEnd = d.entryClass.data() + (t_.grid_.cellEnd(c) - first);
                if (classBegin == classEnd) return;
                for (int k = 0; k < 4; ++k) {
                    const auto range = std::equal_range(classBegin, classEnd, static_cast<unsigned char>(wanted[k]));
                    for (const unsigned char* e = range.first; e != range.second; ++e) {
                        const int w = d.entries[static_cast<std::size_t>(e - d.entryClass.data())];
                        if (scratch_.firstInLookup(w) && !flagged(w)) candidates_.push_back(w);
                    }
                }
            });
            std::sort(candidates_.begin(), candidates_.end());
        }

        const Transfer& t_;
        LookupScratch scratch_;
        std::vector<int> flaggedFor_;
        std::vector<int> candidates_;
    };

    std::vector<Correspondence> run(int threads) {
        const int n1 = input_.segments1.count;
        std::vector<Correspondence> result;
        if (threads <= 1 || n1 <= kBlockSize) {
            Worker(*this).run(0, n1, result);
            return result;
        }
        const int numBlocks = (n1 + kBlockSize - 1) / kBlockSize;
        threads = std::min(threads, numBlocks);
        std::vector<std::vector<Correspondence>> blocks(static_cast<std::size_t>(numBlocks));
        std::atomic<int> nextBlock{0};
        std::atomic<bool> failed{false};
        std::exception_ptr failure;
        std::mutex failureMutex;
        const auto work = [&] {
            try {
                Worker worker(*this);
                for (int b; !failed && (b = nextBlock++) < numBlocks;)
                    worker.run(b * kBlockSize, std::min(n1, (b + 1) * kBlockSize), blocks[static_cast<std::size_t>(b)]);
            } catch (...) {
                std::lock_guard<std::mutex> lock(failureMutex);
                if (!failure) failure = std::current_exception();
                failed = true;
            }
        };
        std::vector<std::thread> pool;
        try {
            for (int t = 1; t < threads; ++t) pool.emplace_back(work);
        } catch (...) {
            failed = true;
            for (std::thread& th : pool) th.join();
            throw;
        }
        work();
        for (std::thread& th : pool) th.join();
        if (failure) std::rethrow_exception(failure);

        std::size_t total = 0;
        for (const auto& b : blocks) total += b.size();
        result.reserve(total);
        for (const auto& b : blocks) result.insert(result.end(), b.begin(), b.end());
        return result;
    }

private:
    const TransferInput& input_;
    const GridIndex& grid_;
    KnownMatches known_;
    std::vector<double> lines_;
    DirectedCells directed_;
};

}  // namespace

void checkTransferInput(const TransferInput& input, const GridIndex& grid) {
    checkCount(input.segments1.count, input.segments1.data, "image-1 segments");
    checkCount(input.segments2.count, input.segments2.data, "image-2 segments");
    checkCount(input.pairRecords.count, input.pairRecords.data, "pair records");
    // A stride shorter than a record, or off the doubles' alignment, would
    // read records that overlap or straddle their fields.
    if (input.pairRecords.stride < sizeof(PairRecord) || input.pairRecords.stride % alignof(PairRecord) != 0)
        throw HarvestError(ErrorKind::badCount, "pair records lie " + std::to_string(input.pairRecords.stride) +
                                                    " bytes apart; each needs at least " +
                                                    std::to_string(sizeof(PairRecord)) + ", aligned for doubles");
    const int perSegment = input.pairIndexTable.pairsPerSegment;
    if (perSegment < 0)
        throw HarvestError(ErrorKind::badCount, "the number of pairs per segment must not be negative, got " + std::to_string(perSegment));
    if (perSegment > 0 && input.segments1.count > 0 && input.pairIndexTable.data == nullptr)
        throw HarvestError(ErrorKind::badCount, "the pair index table has no data");
    checkThreshold(input.thresholds.maxLineDistance, "distance threshold");
    checkThreshold(input.thresholds.maxAngleDifference, "angle threshold");
    checkThreshold(input.thresholds.minOverlapRatio, "overlap threshold");

    for (int r = 0; r < input.pairRecords.count; ++r) {
        const PairRecord& record = input.pairRecords[r];
        // Checked in element order, so that the first bad one is reported
        // with its row of the caller's matrix.
        const struct {
            double value;
            int limit;
            const char* role;
        } indices[4] = {{record.image1SegmentA, input.segments1.count, "image-1"},
                        {record.image1SegmentB, input.segments1.count, "image-1"},
                        {record.image2SegmentA, input.segments2.count, "image-2"},
                        {record.image2SegmentB, input.segments2.count, "image-2"}};
        for (int e = 0; e < 4; ++e) {
            if (!isIndexBelow(indices[e].value, indices[e].limit))
                throw HarvestError(ErrorKind::badPairRecord, "pair record " + std::to_string(r) + " (column " + std::to_string(r + 1) +
                                                                 "), row " + std::to_string(e + 1) + ": " + number(indices[e].value) +
                                                                 " is not an " + indices[e].role + " segment index in [0, " +
                                                                 std::to_string(indices[e].limit) + ")");
        }
    }
    for (int i = 0; i < input.segments1.count; ++i) {
        for (int j = 0; j < perSegment; ++j) {
            const double entry = input.pairIndexTable.data[static_cast<std::size_t>(i) * perSegment + j];
            if (!isIndexBelow(entry, input.pairRecords.count))
                throw HarvestError(ErrorKind::badPairIndex, "pair index table, column " + std::to_string(i + 1) + ", row " +
                                                                std::to_string(j + 1) + ": " + number(entry) +
                                                                " is not a pair record index in [0, " +
                                                                std::to_string(input.pairRecords.count) + ")");
        }
    }
    grid.checkEntries(input.segments2.count);
}

std::vector<Correspondence> addCandidates(const TransferInput& input, const GridIndex& grid, int threads) {
    if (threads < 1) throw HarvestError(ErrorKind::badThreads, "the thread count must be at least 1, got " + std::to_string(threads));
    checkTransferInput(input, grid);
    return Transfer(input, grid).run(threads);
}

void writeCandidates(std::ostream& out, const std::vector<Correspondence>& correspondences) {
    std::string text;
    for (const Correspondence& c : correspondences) {
        text += std::to_string(c.image1Segment);
        text += ' ';
        text += std::to_string(c.image2Segment);
        text += ' ';
        text += std::to_string(c.pairRecord);
        text += '\n';
        if (text.size() > (1u << 16)) {
            out.write(text.data(), static_cast<std::streamsize>(text.size()));
            text.clear();
        }
    }
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void writeCandidates(const std::string& path, const std::vector<Correspondence>& correspondences) {
    errno = 0;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.is_open())
        throw HarvestError(ErrorKind::outputFile, "cannot open '" + path + "' for writing" + (errno ? std::string(": ") + std::strerror(errno) : ""));
    writeCandidates(out, correspondences);
    out.close();
    if (out.fail()) throw HarvestError(ErrorKind::outputFile, "writing '" + path + "' failed");
}

}  // namespace lineharvest
