#include "linematch/matcher.hpp"

#include "linematch/image_features.hpp"

#include "linematch/image_scale.hpp"
#include "linematch/line_geometry.hpp"
#include "linematch/one_line_rule.hpp"
#include "linematch/segments.hpp"
#include "parallel_ranges.hpp"
#include "round_memos.hpp"

#include "lineharvest/grid_index.hpp"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <set>
#include <stdexcept>
#include <utility>

namespace linematch {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

cv::Mat toGray(const cv::Mat& image, const char* name) {
    if (image.empty()) throw std::invalid_argument(std::string(name) + " is empty");
    if (image.depth() != CV_8U || (image.channels() != 1 && image.channels() != 3 && image.channels() != 4))
        throw std::invalid_argument(std::string(name) + " must be an 8-bit image with 1, 3 or 4 channels");
    if (image.channels() == 1) return image;
    cv::Mat gray;
    cv::cvtColor(image, gray, image.channels() == 3 ? cv::COLOR_BGR2GRAY : cv::COLOR_BGRA2GRAY);
    return gray;
}

void checkGiven(const GivenSeeds& given, std::size_t count1, std::size_t count2) {
    for (const SegmentMatch& m : given.lines)
        if (m.image1Segment < 0 || static_cast<std::size_t>(m.image1Segment) >= count1 || m.image2Segment < 0 ||
            static_cast<std::size_t>(m.image2Segment) >= count2)
            throw GivenSeedOutOfRange("given seed line match (" + std::to_string(m.image1Segment) + ", " +
                                        std::to_string(m.image2Segment) + ") is outside the segment lists");
    for (const PointCorrespondence& p : given.points)
        if (!std::isfinite(p.image1.x) || !std::isfinite(p.image1.y) || !std::isfinite(p.image2.x) ||
            !std::isfinite(p.image2.y))
            throw std::invalid_argument("given seed point match is not finite");
}

// first() and second() side by side when threads > 1, the second on a
// thread of its own; the first exception of the two is rethrown.
template <class First, class Second>
void sideBySide(int threads, const First& first, const Second& second) {
    if (threads <= 1) {
        first();
        second();
        return;
    }
    parallelRanges(2, 2, [&](int, int, int part) {
        if (part == 0)
            first();
        else
            second();
    });
}

// The stage boundaries told to the settings' progress callback.
void tell(const MatcherSettings& settings, const char* stage, double fraction) {
    if (settings.progress) settings.progress(stage, fraction);
}

// Shares of a run: detection 0 to 0.3, descriptors to 0.5, the rounds the rest.
double roundShare(const MatcherSettings& settings, int round, double within) {
    return 0.5 + 0.5 * (round + within) / std::max(settings.maxRounds, 1);
}

MatchResult matchPrepared(ImageFeatures& features1, ImageFeatures& features2, const MatcherSettings& unscaled,
                          const GivenSeeds& given);

}  // namespace

MatchResult matchLines(const cv::Mat& image1, const cv::Mat& image2, const MatcherSettings& settings,
                       const GivenSeeds& given) {
    // The two images' features side by side, then the pair from them.
    const cv::Mat gray1 = toGray(image1, "image 1"), gray2 = toGray(image2, "image 2");
    const auto start = Clock::now();
    tell(settings, "segments", 0.0);
    ImageFeatures features1, features2;
    // Only the segments up front: the pair computes the keypoint levels
    // and the LBD descriptors it turns out to need.
    FeatureParts segmentsOnly;
    segmentsOnly.first = false;
    sideBySide(
        settings.threads, [&] { features1 = extractFeatures(gray1, settings, segmentsOnly); },
        [&] { features2 = extractFeatures(gray2, settings, segmentsOnly); });
    const double seconds = secondsSince(start);
    MatchResult result = matchFeatures(features1, features2, settings, given);
    result.secondsSegments = seconds;
    return result;
}

MatchResult matchSegments(const cv::Mat& image1, const cv::Mat& image2, std::vector<Segment> segments1,
                          std::vector<Segment> segments2, const MatcherSettings& settings, const GivenSeeds& given) {
    ImageFeatures features1, features2;
    features1.gray = toGray(image1, "image 1");
    features2.gray = toGray(image2, "image 2");
    features1.size = features1.gray.size();
    features2.size = features2.gray.size();
    features1.segments = std::move(segments1);
    features2.segments = std::move(segments2);
    return matchPrepared(features1, features2, settings, given);
}

MatchResult matchFeatures(ImageFeatures& features1, ImageFeatures& features2, const MatcherSettings& settings,
                          const GivenSeeds& given) {
    const std::string key = featureSettingsKey(settings);
    if (features1.settingsKey != key || features2.settingsKey != key)
        throw std::invalid_argument("features were computed with other settings (" +
                                    (features1.settingsKey != key ? features1.settingsKey : features2.settingsKey) +
                                    ") than the pair's (" + key + ")");
    return matchPrepared(features1, features2, settings, given);
}

namespace {

// The pair from its features, whatever made them: the parts it needs and
// they lack are computed as it goes (image_features.hpp).
MatchResult matchPrepared(ImageFeatures& features1, ImageFeatures& features2, const MatcherSettings& unscaled,
                          const GivenSeeds& given) {
    const cv::Size size1 = features1.size, size2 = features2.size;
    if (size1.empty() || size2.empty()) throw std::invalid_argument("features of an empty image");
    checkGiven(given, features1.segments.size(), features2.segments.size());
    const double scale = unscaled.scaleWithImage ? imageScale(size1, size2) : 1.0;
    const MatcherSettings settings = scaledSettings(unscaled, scale);
    MatchResult result;
    result.segments1 = features1.segments;
    result.segments2 = features2.segments;
    const auto& s1 = result.segments1;
    const auto& s2 = result.segments2;
    const int threads = std::max(settings.threads, 1);

    auto start = Clock::now();
    tell(settings, "points", 0.3);
    SegmentCarriers carriers;
    std::vector<SegmentMatch> carried, planeCarried;
    if (settings.points.enabled || !given.points.empty()) {
        const KeypointLevels keypoints = [&](int level) {
            completePairLevel(features1, features2, settings, level, threads >= 2);
            return std::make_pair(&features1.keypoints[level], &features2.keypoints[level]);
        };
        const PointSeedResult points =
            pointSeeds(size1, size2, keypoints, s1, s2, settings.points, scale, given.points);
        result.pointMatches = static_cast<int>(points.matches.size());
        result.pointsVerified = points.verified;
        result.pointPlanes = static_cast<int>(points.planes.size());
        result.pointLevel = points.level;
        result.pointSeeds = points.seeds;
        result.geometry = points.geometry;
        if (settings.points.addCarried) carried = points.carried;
        carriers = points.carriers;
        planeCarried = points.carried;
    }
    result.secondsPoints = secondsSince(start);
    start = Clock::now();
    tell(settings, "descriptors", 0.4);
    // LBD seeds where the points give few, and where the scene has depth
    // beyond its planes (a verified fundamental matrix): there the planes
    // leave segments uncarried and line descriptors are the seeds between
    // them.
    if (settings.lbdSeeds &&
        (settings.lbdBelow <= 0 || static_cast<int>(result.pointSeeds.size() + given.lines.size()) < settings.lbdBelow ||
         result.geometry.epipolar.verified)) {
        completePairLbd(features1, features2, settings.threads >= 2);
        result.descriptorMatches = matchDescriptors(features1.lbd, features2.lbd, settings.descriptor, threads);
        result.lbdSought = true;
    }
    result.secondsDescriptors = secondsSince(start);
    const SourcedSeeds sourced = combineSeeds({{SeedSource::given, &given.lines},
                                               {SeedSource::point, &result.pointSeeds},
                                               {SeedSource::lbd, &result.descriptorMatches}});
    for (SeedSource source : sourced.source) ++result.seedsBySource[static_cast<int>(source)];

    const lineharvest::RasterWindow window{0, size2.height, 0, size2.width};
    const lineharvest::GridIndex grid = lineharvest::GridIndex::build(
        {s2.empty() ? nullptr : s2.front().data(), static_cast<int>(s2.size())}, settings.transfer.cellSize,
        window, settings.transfer.gridMargin);

    std::set<SegmentMatch> found;
    std::vector<MatchSource> sources;  // per entry of result.matches
    // Point seeds and carried correspondences were found by the plane
    // carrying their image-1 segment.
    const auto seedSource = [&](SeedSource from, const SegmentMatch& m) {
        MatchSource source;
        source.origin = from == SeedSource::point ? MatchOrigin::pointSeed
                        : from == SeedSource::lbd ? MatchOrigin::lbdSeed
                                                  : MatchOrigin::givenSeed;
        const std::size_t i = static_cast<std::size_t>(m.image1Segment);
        if (i < carriers.known.size() && carriers.known[i]) {
            source.hasHomography = true;
            source.homography = carriers.homography[i];
        }
        return source;
    };
    std::vector<SegmentMatch> seeds = sourced.seeds;
    SeedCheckMemo memo;
    VerificationMemo verificationMemo;
    for (int round = 0; round < std::max(settings.maxRounds, 1); ++round) {
        RoundSummary summary;
        summary.seeds = static_cast<int>(seeds.size());
        tell(settings, "checks", roundShare(settings, round, 0));
        start = Clock::now();
        SeedCheckResult checked = checkSeeds(s1, s2, seeds, settings.checks, threads, &memo);
        // A pair record's homography is a plane of the scene only if it
        // keeps to the fundamental matrix: the ends of its two image-1
        // segments must land on their epipolar lines.
        if (result.geometry.epipolar.verified && settings.recordEpipolarDistance > 0) {
            std::vector<SeedPair> agreeing;
            for (const SeedPair& pair : checked.records)
                if (keepsToEpipolarLines(pair.homography(), result.geometry.epipolar.fundamental,
                                         {s1[static_cast<std::size_t>(pair.record.image1SegmentA)],
                                          s1[static_cast<std::size_t>(pair.record.image1SegmentB)]},
                                         settings.recordEpipolarDistance * scale))
                    agreeing.push_back(pair);
            checked.records = std::move(agreeing);
        }
        result.secondsChecks += secondsSince(start);
        std::vector<SegmentMatch> kept;
        for (std::size_t k = 0; k < seeds.size(); ++k)
            if (checked.seedKept[k]) kept.push_back(seeds[k]);
        summary.keptSeeds = static_cast<int>(kept.size());
        summary.records = static_cast<int>(checked.records.size());
        if (round == 0) {
            for (std::size_t k = 0; k < seeds.size(); ++k)
                if (checked.seedKept[k]) ++result.keptBySource[static_cast<int>(sourced.source[k])];
            // Too few seeds that their neighbours confirm for the transfer:
            // whatever it made of them would look like an answer and not be
            // one. But a kept seed has neighbours that agree with it, and a
            // verified plane vouches for its own correspondences: either is
            // an answer, however small. Only with neither is there nothing
            // to return.
            const bool thin = static_cast<int>(kept.size()) < settings.minSeeds;
            if (thin) {
                // One entry per round in both lists, as after any round
                // (the reports, the MEX info and the Python result index
                // them together).
                result.rounds.push_back(summary);
                result.roundMatches.emplace_back();
                const bool planeVerified = settings.planesAdd &&
                                           std::find(carriers.known.begin(), carriers.known.end(), 1) != carriers.known.end();
                if (!planeVerified && kept.empty()) result.status = "thin_support";
            }
            if (result.status == "ok") {
                result.seeds = kept;
                for (std::size_t k = 0; k < seeds.size(); ++k)
                    if (checked.seedKept[k] && found.insert(seeds[k]).second) {
                        result.matches.push_back(seeds[k]);
                        sources.push_back(seedSource(sourced.source[k], seeds[k]));
                    }
            }
            if (thin) break;
        }

        tell(settings, "transfer", roundShare(settings, round, 0.3));
        start = Clock::now();
        const std::vector<lineharvest::Correspondence> transferred =
            transferRound(s1, s2, checked.records, grid, settings.transfer, threads);
        result.secondsTransfer += secondsSince(start);
        summary.transferred = static_cast<int>(transferred.size());

        // New correspondences, each once, judged by the correspondences
        // around them (all found so far and the other new ones).
        std::vector<SegmentMatch> candidates = result.matches;
        std::vector<int> candidateRecord(candidates.size(), -1);
        std::vector<char> candidateCarried(candidates.size(), 0);
        std::set<SegmentMatch> fresh;
        for (const lineharvest::Correspondence& t : transferred) {
            const SegmentMatch m{t.image1Segment, t.image2Segment};
            if (found.count(m) || !fresh.insert(m).second) continue;
            candidates.push_back(m);
            candidateRecord.push_back(t.pairRecord);
            candidateCarried.push_back(0);
        }
        // The planes' own correspondences join the first round's, judged
        // the same way; they have no pair record and seed nothing.
        if (round == 0)
            for (const SegmentMatch& m : carried) {
                if (found.count(m) || !fresh.insert(m).second) continue;
                candidates.push_back(m);
                candidateRecord.push_back(-1);
                candidateCarried.push_back(1);
            }
        std::vector<char> judge(candidates.size(), 0);
        std::fill(judge.begin() + static_cast<long>(result.matches.size()), judge.end(), 1);
        tell(settings, "verification", roundShare(settings, round, 0.8));
        start = Clock::now();
        std::vector<char> keep = verifyByNeighbours(s1, s2, candidates, judge, settings.verification, threads, &verificationMemo);
        if (settings.singlePartnerLine) {
            const std::vector<char> single =
                singlePartnerLine(s1, s2, candidates, judge, settings.sameLineDistance);
            for (std::size_t k = 0; k < keep.size(); ++k) keep[k] = keep[k] && single[k];
        }
        // Where verified point matches pin the plane down, it has the last
        // word. In a scene of planes alone (no depth beyond them verified)
        // the plane is the scene's own model: a partner it puts further off
        // than a plane-carried partner may lie is refused. Where there is
        // depth beyond the planes they only approximate the surfaces and
        // the wider agreement distance holds. The planes come from
        // keypoints found on shrunk images, so on large images their error
        // in pixels grows with the image and so does this tolerance, up to
        // the agreement distance.
        const double planeTolerance =
            result.geometry.epipolar.verified
                ? settings.points.agreementDistance
                : std::min(settings.points.agreementDistance, settings.points.lineDistance * scale);
        const std::vector<char> planar = agreesWithPlanes(s1, s2, candidates, judge, carriers, planeTolerance);
        for (std::size_t k = 0; k < keep.size(); ++k) keep[k] = keep[k] && planar[k];
        // Outside the planes' reach the fundamental matrix, where verified,
        // is the one model left: the partner must lie in the epipolar band.
        if (result.geometry.epipolar.verified && settings.minEpipolarShare > 0)
            for (std::size_t k = 0; k < keep.size(); ++k) {
                const std::size_t i = static_cast<std::size_t>(candidates[k].image1Segment);
                if (!judge[k] || !keep[k] || (i < carriers.known.size() && carriers.known[i])) continue;
                const double share = epipolarShare(result.geometry.epipolar.fundamental, s1[i],
                                                   s2[candidates[k].image2Segment]);
                keep[k] = std::isnan(share) || share >= settings.minEpipolarShare;
            }
        result.secondsChecks += secondsSince(start);

        std::vector<SegmentMatch> added;
        std::vector<MatchSource> addedSources;
        std::vector<SegmentMatch> nextSeeds = kept;
        for (std::size_t k = result.matches.size(); k < candidates.size(); ++k) {
            if (!keep[k]) {
                ++summary.rejected;
                continue;
            }
            const SegmentMatch& m = candidates[k];
            found.insert(m);
            added.push_back(m);
            MatchSource source;
            source.round = round;
            if (candidateCarried[k]) {
                source = seedSource(SeedSource::point, m);
                source.origin = MatchOrigin::planeCarried;
            } else if (candidateRecord[k] >= 0) {
                source.hasHomography = true;
                source.homography = checked.records[candidateRecord[k]].homography();
            }
            addedSources.push_back(source);
            if (candidateRecord[k] < 0) continue;
            // Only a correspondence whose two segments cover the same stretch
            // of the edge gives endpoints a homography can be fitted to.
            const cv::Matx33d h = checked.records[candidateRecord[k]].homography();
            if (sharedExtent(mapSegment(h, s1[m.image1Segment]), s2[m.image2Segment]) >= settings.newSeedExtent)
                nextSeeds.push_back(m);
        }
        result.matches.insert(result.matches.end(), added.begin(), added.end());
        sources.insert(sources.end(), addedSources.begin(), addedSources.end());
        summary.added = static_cast<int>(added.size());
        summary.newSeeds = static_cast<int>(nextSeeds.size() - kept.size());
        result.roundMatches.push_back(std::move(added));
        result.rounds.push_back(summary);
        if (summary.added == 0 || summary.newSeeds == 0) break;
        seeds = std::move(nextSeeds);
    }
    // Every correspondence a verified plane gives joins the answer, judged
    // by that plane alone: the neighbour checks need dense correspondences
    // around a segment, the plane needs none.
    // They count as the last round's additions.
    if (settings.planesAdd && result.status == "ok" && !result.rounds.empty()) {
        std::vector<SegmentMatch> all = result.matches;
        std::vector<char> judge(all.size(), 0);
        for (const SegmentMatch& m : planeCarried)
            if (!found.count(m)) {
                all.push_back(m);
                judge.push_back(1);
            }
        for (std::size_t k = 0; k < all.size(); ++k) {
            if (!judge[k]) continue;
            const SegmentMatch& m = all[k];
            if (!found.insert(m).second) continue;
            result.matches.push_back(m);
            result.roundMatches.back().push_back(m);
            ++result.rounds.back().added;
            MatchSource source = seedSource(SeedSource::point, m);
            source.origin = MatchOrigin::planeCarried;
            sources.push_back(source);
        }
    }
    result.evidence = gatherEvidence(s1, s2, result.matches, sources, carriers, result.geometry, scale);
    result.confidence.resize(result.evidence.size());
    for (std::size_t k = 0; k < result.evidence.size(); ++k) result.confidence[k] = confidenceOf(result.evidence[k]);
    tell(settings, "done", 1.0);
    return result;
}

}  // namespace

}  // namespace linematch
