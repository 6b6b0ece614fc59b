// The two-image line matcher: segments (LSD), seeds (from verified point
// matches, see point_seeds.hpp, and from LBD, mutual best match with a
// ratio test), seed checks without ground truth, then transfer rounds in
// which the lineharvest core adds correspondences and the well-covered ones
// become seeds of the next round. No ground truth is read.
#pragma once

#include "linematch/descriptor_seeds.hpp"
#include "linematch/match_confidence.hpp"
#include "linematch/neighbour_verification.hpp"
#include "linematch/point_seeds.hpp"
#include "linematch/seed_checks.hpp"
#include "linematch/seed_sources.hpp"
#include "linematch/transfer_round.hpp"
#include "linematch/two_view_geometry.hpp"
#include "linematch/types.hpp"

#include <opencv2/core.hpp>

#include <array>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace linematch {

struct MatcherSettings {
    double minSegmentLength = 10.0;
    DescriptorSettings descriptor;
    SeedCheckSettings checks;
    TransferSettings transfer;
    VerificationSettings verification;
    // New correspondences whose segment gets partners on two different
    // lines are refused (see one_line_rule.hpp).
    bool singlePartnerLine = true;
    double sameLineDistance = 1.5;
    int maxRounds = 3;
    // A transfer match becomes a seed of the next round when its mapped
    // image-1 segment and its image-2 segment share this much of the longer.
    double newSeedExtent = 0.8;
    // Seed sources: point matches (off: points.enabled = false) and LBD.
    PointSeedSettings points;
    bool lbdSeeds = true;
    // LBD seeds are sought only when the points gave fewer seed candidates
    // than this (0: always), or when a fundamental matrix is verified (depth
    // beyond the planes): on planar scenes with plenty of point seeds they
    // add nothing measurable and cost a fifth of the run.
    int lbdBelow = 100;
    // Neighbourhoods grow with images larger than 1000 px (image_scale.hpp).
    bool scaleWithImage = true;
    // Fewer seeds than this kept by the checks: no transfer rounds; the
    // answer is the kept seeds (their neighbours agree with them) and what
    // the planes verify. With neither, no correspondences are returned
    // (status "thin_support").
    int minSeeds = 8;
    // The correspondences a verified plane gives (see point_seeds.hpp) join
    // the answer at the end without the neighbour checks: a plane fitted to
    // many point matches vouches for them on its own, however few there are.
    bool planesAdd = true;
    // Where the point matches verify a fundamental matrix, a correspondence
    // no plane carries must have at least this share of its image-2
    // segment inside the epipolar band of its image-1 segment's ends
    // (0: no such check).
    double minEpipolarShare = 0.5;
    // Where it is verified, a pair record whose homography puts an end of
    // its two image-1 seed segments farther than this (pixels at about
    // 1000 px) from that end's epipolar line is dropped (0: kept).
    double recordEpipolarDistance = 3.0;
    // Threads of the whole pipeline: the two images' segments and
    // descriptors side by side, then the descriptor matching, the seed
    // checks, the pair index table, the transfer and the verification each
    // shared out. The result does not depend on the number. The one thread
    // count of the matcher: the stages' settings have none of their own.
    int threads = 1;
    // Told each stage as it starts ("segments", "descriptors", "checks",
    // "transfer", "verification", the last three once per round) and "done" at
    // the end, with a rough share of the run done so far (0 to 1). It runs
    // on the calling thread and may throw to stop the run: the exception
    // leaves matchLines / matchSegments.
    std::function<void(const std::string& stage, double fraction)> progress;
};

// The caller's own seeds: line correspondences (indices into the segment
// lists: the caller's segments, or the detected ones for matchLines) and
// point matches image 1 -> image 2, which replace the keypoint matching.
// Both go through the same checks as the matcher's own seeds.
struct GivenSeeds {
    std::vector<SegmentMatch> lines;
    std::vector<PointCorrespondence> points;
};

// A given line seed outside the segment lists: only known once the
// segments are detected, so the front ends tell it apart from other
// invalid arguments to name their own option.
struct GivenSeedOutOfRange : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

struct RoundSummary {
    int seeds = 0;        // seeds checked at the start of the round
    int keptSeeds = 0;    // seeds the checks kept
    int records = 0;      // pair records handed to the transfer
    int transferred = 0;  // correspondences the transfer returned
    int rejected = 0;     // new ones the neighbour verification refused
    int added = 0;        // new ones kept
    int newSeeds = 0;     // of the added ones, seeds of the next round
};

struct MatchResult {
    // "ok", or "thin_support" when no seed survived the checks and no
    // plane was verified (no correspondences then; see minSeeds). A
    // collection's overlap check answers "no_overlap" (image_features.hpp:
    // noOverlapResult), never the matcher itself.
    std::string status = "ok";
    std::vector<Segment> segments1;
    std::vector<Segment> segments2;
    // Mutual best LBD matches that pass the ratio test: the seeds before the
    // checks, and the plain descriptor matcher's answer.
    std::vector<SegmentMatch> descriptorMatches;
    // Point matches (after the ratio and mutual tests, or the caller's),
    // those some plane explains, the planes, and the seeds they gave.
    int pointMatches = 0, pointsVerified = 0, pointPlanes = 0;
    int pointLevel = 0;  // see PointSeedResult::level
    std::vector<SegmentMatch> pointSeeds;
    bool lbdSought = false;  // descriptorMatches were computed (see lbdBelow)
    // First-round seeds per source (SeedSource order) before and after the
    // checks.
    std::array<int, kSeedSources> seedsBySource{}, keptBySource{};
    // Seeds the checks kept in the first round.
    std::vector<SegmentMatch> seeds;
    // Correspondences each round added (not found before), in transfer order;
    // one entry per entry of rounds (an empty one for a thin_support stop).
    std::vector<std::vector<SegmentMatch>> roundMatches;
    std::vector<RoundSummary> rounds;
    // seeds followed by every round's additions (the planes' own
    // correspondences not found before count as the last round's, see
    // planesAdd); each (i, w) once.
    std::vector<SegmentMatch> matches;
    // Per entry of matches: how sure the matcher is of it, 0 to 1, from the
    // evidence behind it (the model that carries it and how closely, the
    // epipolar band, the neighbours' agreement). Higher is more often right;
    // keeping the more confident ones trades recall for precision.
    std::vector<double> confidence;
    // Per entry of matches: what the confidence was made of.
    std::vector<MatchEvidence> evidence;
    // The models the point matches verified (no planes and no fundamental
    // matrix when the point stage is off or found nothing).
    TwoViewGeometry geometry;
    // Seconds spent per stage.
    double secondsSegments = 0, secondsPoints = 0, secondsDescriptors = 0, secondsChecks = 0, secondsTransfer = 0;
};

// image1, image2: 8-bit images, one or three channels (colour is turned to
// grey). std::invalid_argument for an empty image or another type.
MatchResult matchLines(const cv::Mat& image1, const cv::Mat& image2, const MatcherSettings& settings = {},
                       const GivenSeeds& given = {});

// The same on given segments (the images are still needed for the
// descriptors); segmentsN index the result. std::invalid_argument for a
// given line seed outside the segment lists or a given point that is not
// finite.
MatchResult matchSegments(const cv::Mat& image1, const cv::Mat& image2, std::vector<Segment> segments1,
                          std::vector<Segment> segments2, const MatcherSettings& settings = {},
                          const GivenSeeds& given = {});

}  // namespace linematch
