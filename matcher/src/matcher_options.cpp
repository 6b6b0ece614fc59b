#include "linematch/matcher_options.hpp"

#include "linematch/front_end_error.hpp"

#include <cctype>
#include <cmath>
#include <cstdio>

namespace linematch {

namespace {

using S = FrontEndSettings;

bool sameNameIgnoringCase(const std::string& a, const char* b) {
    std::size_t k = 0;
    for (; k < a.size() && b[k]; ++k)
        if (std::tolower(static_cast<unsigned char>(a[k])) != std::tolower(static_cast<unsigned char>(b[k])))
            return false;
    return k == a.size() && !b[k];
}

bool inRange(const MatcherOption& o, double v) {
    if (!(v <= o.hi) || !(o.openBelow ? v > o.lo : v >= o.lo)) return false;
    return o.type == OptionType::real || v == std::floor(v);
}

}  // namespace

const std::vector<MatcherOption>& matcherOptions() {
    static const std::vector<MatcherOption> table = {
        {"min_length", "MinLength", "--min-length", OptionType::real, 1, 1e6, false,
         "shortest segment kept, pixels",
         [](const S& s) { return s.matcher.minSegmentLength; },
         [](S& s, double v) { s.matcher.minSegmentLength = v; }},
        {"ratio", "Ratio", "--ratio", OptionType::real, 0, 1, true,
         "descriptor ratio test, best < ratio * second best (1 = off)",
         [](const S& s) { return s.matcher.descriptor.ratio; },
         [](S& s, double v) { s.matcher.descriptor.ratio = v; }},
        {"mutual", "Mutual", "--no-mutual", OptionType::onOff, 0, 1, false,
         "seeds must be each other's best descriptor match",
         [](const S& s) { return double(s.matcher.descriptor.mutual); },
         [](S& s, double v) { s.matcher.descriptor.mutual = s.matcher.descriptor.mutual && v != 0; }},
        {"checks", "SeedChecks", "--no-checks", OptionType::onOff, 0, 1, false,
         "the three seed checks (support, agreement, refit)",
         [](const S& s) {
             const SeedCheckSettings& c = s.matcher.checks;
             return double(c.neighbourSupport && c.pairAgreement && c.lineRefit);
         },
         [](S& s, double v) {
             SeedCheckSettings& c = s.matcher.checks;
             c.neighbourSupport = c.neighbourSupport && v != 0;
             c.pairAgreement = c.pairAgreement && v != 0;
             c.lineRefit = c.lineRefit && v != 0;
         }},
        {"support", "Support", "--no-support", OptionType::onOff, 0, 1, false,
         "drop seeds without neighbour support",
         [](const S& s) { return double(s.matcher.checks.neighbourSupport); },
         [](S& s, double v) { s.matcher.checks.neighbourSupport = s.matcher.checks.neighbourSupport && v != 0; }},
        {"agreement", "Agreement", "--no-agreement", OptionType::onOff, 0, 1, false,
         "drop pair records whose neighbours do not vote for them",
         [](const S& s) { return double(s.matcher.checks.pairAgreement); },
         [](S& s, double v) { s.matcher.checks.pairAgreement = s.matcher.checks.pairAgreement && v != 0; }},
        {"refit", "Refit", "--no-refit", OptionType::onOff, 0, 1, false,
         "refit the pair records' endpoint homographies to lines",
         [](const S& s) { return double(s.matcher.checks.lineRefit); },
         [](S& s, double v) { s.matcher.checks.lineRefit = s.matcher.checks.lineRefit && v != 0; }},
        {"rounds", "Rounds", "--rounds", OptionType::whole, 1, 100, false,
         "most transfer rounds",
         [](const S& s) { return double(s.matcher.maxRounds); },
         [](S& s, double v) { s.matcher.maxRounds = static_cast<int>(v); }},
        {"verify", "Verify", "--no-verify", OptionType::onOff, 0, 1, false,
         "refuse transferred correspondences that their neighbours contradict",
         [](const S& s) { return double(s.matcher.verification.enabled); },
         [](S& s, double v) { s.matcher.verification.enabled = s.matcher.verification.enabled && v != 0; }},
        // NaN or a negative distance would refuse every correspondence the
        // verification judges, without a word.
        {"verify_distance", "VerifyDistance", "--verify-distance", OptionType::real, 0, 1e6, true,
         "pixels of the neighbour verification",
         [](const S& s) { return s.matcher.verification.lineDistance; },
         [](S& s, double v) { s.matcher.verification.lineDistance = v; }},
        {"one_line", "OneLine", "--no-one-line", OptionType::onOff, 0, 1, false,
         "refuse correspondences that give a segment partners on two lines",
         [](const S& s) { return double(s.matcher.singlePartnerLine); },
         [](S& s, double v) { s.matcher.singlePartnerLine = s.matcher.singlePartnerLine && v != 0; }},
        {"threads", "Threads", "--threads", OptionType::whole, 1, 256, false,
         "threads of the whole matcher; the result does not depend on them",
         [](const S& s) { return double(s.matcher.threads); },
         // The transfer's own count too: the ground-truth-seeded upper bound
         // run of the command takes the transfer settings alone.
         [](S& s, double v) { s.matcher.threads = static_cast<int>(v); }},
        {"points", "PointSeeds", "--no-points", OptionType::onOff, 0, 1, false,
         "seeds from keypoint matches verified by planes",
         [](const S& s) { return double(s.matcher.points.enabled); },
         [](S& s, double v) { s.matcher.points.enabled = s.matcher.points.enabled && v != 0; }},
        {"lbd", "LbdSeeds", "--no-lbd", OptionType::onOff, 0, 1, false,
         "seeds from LBD descriptors (where the points give few)",
         [](const S& s) { return double(s.matcher.lbdSeeds); },
         [](S& s, double v) { s.matcher.lbdSeeds = s.matcher.lbdSeeds && v != 0; }},
        {"lbd_below", "LbdBelow", "--lbd-below", OptionType::whole, 0, 1e9, false,
         "LBD seeds only when the points give fewer seeds than this (0 = always)",
         [](const S& s) { return double(s.matcher.lbdBelow); },
         [](S& s, double v) { s.matcher.lbdBelow = static_cast<int>(v); }},
        {"affine", "AffineViews", "--no-affine", OptionType::onOff, 0, 1, false,
         "affine-simulated views when plain keypoint matches are few",
         [](const S& s) { return double(s.matcher.points.affineViews); },
         [](S& s, double v) { s.matcher.points.affineViews = s.matcher.points.affineViews && v != 0; }},
        {"keypoint_side", "KeypointSide", "--keypoint-side", OptionType::real, 0, 1e5, false,
         "longest side the keypoints are first detected at (0 = the image as it is)",
         [](const S& s) { return s.matcher.points.firstSide; },
         [](S& s, double v) { s.matcher.points.firstSide = v; }},
        {"point_line_distance", "PointLineDistance", "--point-line-distance", OptionType::real, 0, 1e6, true,
         "pixels a plane-carried segment may lie from its partner's line",
         [](const S& s) { return s.matcher.points.lineDistance; },
         [](S& s, double v) { s.matcher.points.lineDistance = v; }},
        {"plane_distance", "PlaneDistance", "--plane-distance", OptionType::real, 0, 1e6, false,
         "pixels a transferred correspondence may miss its plane by (0 = no check)",
         [](const S& s) { return s.matcher.points.agreementDistance; },
         [](S& s, double v) { s.matcher.points.agreementDistance = v; }},
        {"carried", "Carried", "--no-carried", OptionType::onOff, 0, 1, false,
         "the planes' other correspondences join the first round",
         [](const S& s) { return double(s.matcher.points.addCarried); },
         [](S& s, double v) { s.matcher.points.addCarried = s.matcher.points.addCarried && v != 0; }},
        {"local_points", "LocalPoints", "--local-points", OptionType::whole, 0, 1e6, false,
         "inliers of a plane's local fits (0 = the plane's own homography)",
         [](const S& s) { return double(s.matcher.points.localPoints); },
         [](S& s, double v) { s.matcher.points.localPoints = static_cast<int>(v); }},
        {"plane_answer", "PlaneAnswer", "--no-plane-answer", OptionType::onOff, 0, 1, false,
         "the planes' correspondences join the answer without the neighbour checks",
         [](const S& s) { return double(s.matcher.planesAdd); },
         [](S& s, double v) { s.matcher.planesAdd = s.matcher.planesAdd && v != 0; }},
        {"fundamental", "Fundamental", "--no-fundamental", OptionType::onOff, 0, 1, false,
         "the fundamental matrix of the keypoint matches, where they verify one",
         [](const S& s) { return double(s.matcher.points.fundamental); },
         [](S& s, double v) { s.matcher.points.fundamental = s.matcher.points.fundamental && v != 0; }},
        {"epipolar_share", "EpipolarShare", "--epipolar-share", OptionType::real, 0, 1, false,
         "share of a partner no plane carries that must lie in the epipolar band (0 = no check)",
         [](const S& s) { return s.matcher.minEpipolarShare; },
         [](S& s, double v) { s.matcher.minEpipolarShare = v; }},
        {"min_seeds", "MinSeeds", "--min-seeds", OptionType::whole, 0, 1e6, false,
         "fewer checked seeds: no transfer rounds (thin support with none and no plane)",
         [](const S& s) { return double(s.matcher.minSeeds); },
         [](S& s, double v) { s.matcher.minSeeds = static_cast<int>(v); }},
        {"scale_with_image", "ScaleWithImage", "--no-scale", OptionType::onOff, 0, 1, false,
         "neighbourhoods grow with images larger than 1000 px",
         [](const S& s) { return double(s.matcher.scaleWithImage); },
         [](S& s, double v) { s.matcher.scaleWithImage = s.matcher.scaleWithImage && v != 0; }},
        {"max_pixels", "MaxPixels", "--max-pixels", OptionType::whole, 1, 1e12, false,
         "largest image accepted, width x height pixels, checked before decoding",
         [](const S& s) { return s.maxPixels; },
         [](S& s, double v) { s.maxPixels = v; }},
    };
    return table;
}

const MatcherOption* findOption(const std::string& name, OptionNaming naming) {
    for (const MatcherOption& o : matcherOptions()) {
        switch (naming) {
        case OptionNaming::key:
            if (name == o.key) return &o;
            break;
        case OptionNaming::mexName:
            if (sameNameIgnoringCase(name, o.mexName)) return &o;
            break;
        case OptionNaming::flag:
            if (name == o.flag) return &o;
            break;
        }
    }
    return nullptr;
}

std::string numberText(double v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", v);
    return buffer;
}

std::string optionRange(const MatcherOption& o) {
    switch (o.type) {
    case OptionType::onOff: return "true or false";
    case OptionType::whole: return "a whole number in " + numberText(o.lo) + ".." + numberText(o.hi);
    case OptionType::real: break;
    }
    return std::string("in ") + (o.openBelow ? "(" : "[") + numberText(o.lo) + ", " + numberText(o.hi) + "]";
}

std::string optionDefault(const MatcherOption& o) {
    const double v = o.get(FrontEndSettings{});
    if (o.type == OptionType::onOff) return v != 0 ? "true" : "false";
    return numberText(v);
}

void applyOption(FrontEndSettings& settings, const MatcherOption& option, double value, const std::string& shownName) {
    if (!inRange(option, value))
        throw FrontEndError(lineharvest::ErrorKind::badOptions, shownName + " must be " + optionRange(option) + ", got " + numberText(value));
    option.set(settings, value);
}

}  // namespace linematch
