// The catalogue of failure kinds: every failure this project reports names
// one entry here, never a string of its own (the Python package's checks
// written in Python name the same texts). The kind's text is what callers
// see (the MEX identifier "<module>:<text>", the Python exception's
// `kind`); the category decides how a host reports it (see the gateways'
// hostError). The texts are part of the interface: a new failure gets a
// new entry, an existing text never changes.
//
// Header-only, so that every MEX file that the gateways' shared layer
// builds into (also those built without the core's sources) has it.
#pragma once

#include <cstddef>
#include <string_view>

namespace lineharvest {

enum class FailureCategory {
    argumentType,  // an argument of the wrong type, or a call with the wrong number of them
    value,         // an argument (or a file's content) with a refused shape, count, index or value
    file,          // a file that cannot be read or written
    memory,        // an allocation failed
    internal,      // a failure no argument explains
};

// In the order of kErrorKinds below (checked at compile time).
enum class ErrorKind {
    // Calls with the wrong number of arguments (MEX gateways).
    nargin,
    nargout,
    notEnoughInputs,
    tooManyInputs,
    tooManyOutputs,
    // Arguments of the wrong type.
    notRealDouble,
    pointTableNotDouble,
    pointCountNotDouble,
    badGridFile,
    badOutputFile,
    badPath,
    badImage,
    // Refused values.
    emptyScalar,
    badScalar,
    badCount,
    tooSmall,
    badShape,
    badIndex,
    badThreads,
    badCellSize,
    badGrid,
    badWindow,
    badMargin,
    badSegments,
    badMatrix,
    badCameraMatrix,
    badPairRecord,
    badPairIndex,
    gridEntry,
    gridToken,
    badPickle,
    badOptions,
    badPairs,
    imageTooLarge,
    homographyFile,
    // Files.
    gridFile,
    outputFile,
    imageFile,
    damagedImage,
    // Memory.
    outOfMemory,
    // Failures no argument explains.
    opencv,
    interrupted,
    internal,
};

struct ErrorKindEntry {
    ErrorKind kind;
    const char* text;
    FailureCategory category;
    const char* meaning;
};

inline constexpr ErrorKindEntry kErrorKinds[] = {
    {ErrorKind::nargin, "nargin", FailureCategory::argumentType, "too few or too many inputs"},
    {ErrorKind::nargout, "nargout", FailureCategory::argumentType, "too many outputs"},
    {ErrorKind::notEnoughInputs, "notEnoughInputs", FailureCategory::argumentType, "too few inputs (coordsift)"},
    {ErrorKind::tooManyInputs, "tooManyInputs", FailureCategory::argumentType, "too many inputs (coordsift)"},
    {ErrorKind::tooManyOutputs, "tooManyOutputs", FailureCategory::argumentType, "too many outputs (coordsift)"},
    {ErrorKind::notRealDouble, "notRealDouble", FailureCategory::argumentType,
     "a numeric argument that is not real double numbers"},
    {ErrorKind::pointTableNotDouble, "pointTableNotDouble", FailureCategory::argumentType,
     "coordsift's point table is not a real double matrix"},
    {ErrorKind::pointCountNotDouble, "pointCountNotDouble", FailureCategory::argumentType,
     "coordsift's point count is not a real double"},
    {ErrorKind::badGridFile, "badGridFile", FailureCategory::argumentType, "a grid cell file name that is not text"},
    {ErrorKind::badOutputFile, "badOutputFile", FailureCategory::argumentType, "an output file name that is not text"},
    {ErrorKind::badPath, "badPath", FailureCategory::argumentType, "a path that is not a path"},
    {ErrorKind::badImage, "badImage", FailureCategory::argumentType,
     "an image that is neither an 8-bit array of a usable shape nor a file name"},
    {ErrorKind::emptyScalar, "emptyScalar", FailureCategory::value, "an empty scalar"},
    {ErrorKind::badScalar, "badScalar", FailureCategory::value,
     "a scalar with several elements, a NaN threshold, or an integer out of range"},
    {ErrorKind::badCount, "badCount", FailureCategory::value, "a count that is negative or beyond its data"},
    {ErrorKind::tooSmall, "tooSmall", FailureCategory::value, "an array with fewer elements than its count claims"},
    {ErrorKind::badShape, "badShape", FailureCategory::value, "an array of the wrong shape"},
    {ErrorKind::badIndex, "badIndex", FailureCategory::value, "an index outside its array"},
    {ErrorKind::badThreads, "badThreads", FailureCategory::value, "a thread count below 1"},
    {ErrorKind::badCellSize, "badCellSize", FailureCategory::value, "a grid cell size below 1"},
    {ErrorKind::badGrid, "badGrid", FailureCategory::value, "a grid layout that cannot be numbered"},
    {ErrorKind::badWindow, "badWindow", FailureCategory::value, "a window that ends before it begins or is too large"},
    {ErrorKind::badMargin, "badMargin", FailureCategory::value, "a negative or too wide margin"},
    {ErrorKind::badSegments, "badSegments", FailureCategory::value, "a segment list of the wrong shape or values"},
    {ErrorKind::badMatrix, "badMatrix", FailureCategory::value, "a matrix that is not 3x3"},
    {ErrorKind::badCameraMatrix, "badCameraMatrix", FailureCategory::value, "a camera matrix that is not 3x3"},
    {ErrorKind::badPairRecord, "badPairRecord", FailureCategory::value,
     "a pair record whose segment index lies outside the segment counts"},
    {ErrorKind::badPairIndex, "badPairIndex", FailureCategory::value, "a pair index entry that is not a record index"},
    {ErrorKind::gridEntry, "gridEntry", FailureCategory::value, "a grid entry that is not an image-2 segment index"},
    {ErrorKind::gridToken, "gridToken", FailureCategory::value, "a grid token that is not a decimal int"},
    {ErrorKind::badPickle, "badPickle", FailureCategory::value, "a pickle state that is not one"},
    {ErrorKind::badOptions, "badOptions", FailureCategory::value,
     "a matcher option that is unknown, of the wrong type or out of range"},
    // Raised by the Python package's batch code itself.
    {ErrorKind::badPairs, "badPairs", FailureCategory::value, "a list of image pairs that is not one"},
    {ErrorKind::imageTooLarge, "imageTooLarge", FailureCategory::value, "an image with more pixels than the limit"},
    // A value failure, not a file one: callers have always seen it as a
    // refused input (Python's ValueError).
    {ErrorKind::homographyFile, "homographyFile", FailureCategory::value,
     "a homography file that cannot be read or holds no finite, non-singular 3x3 matrix"},
    {ErrorKind::gridFile, "gridFile", FailureCategory::file, "a grid cell file that cannot be read"},
    {ErrorKind::outputFile, "outputFile", FailureCategory::file, "an output file that cannot be written"},
    {ErrorKind::imageFile, "imageFile", FailureCategory::file, "an image file that cannot be read or decoded"},
    {ErrorKind::damagedImage, "damagedImage", FailureCategory::file, "a truncated or corrupt PNG or JPEG file"},
    {ErrorKind::outOfMemory, "outOfMemory", FailureCategory::memory, "an allocation failed"},
    {ErrorKind::opencv, "opencv", FailureCategory::internal, "any other OpenCV failure"},
    {ErrorKind::interrupted, "interrupted", FailureCategory::internal, "the host's Ctrl-C stopped the call"},
    {ErrorKind::internal, "internal", FailureCategory::internal, "any other failure"},
};

inline constexpr std::size_t kErrorKindCount = sizeof kErrorKinds / sizeof kErrorKinds[0];

namespace detail {

// Entry k describes ErrorKind k, and no two entries share a text.
constexpr bool catalogueIsConsistent() {
    for (std::size_t k = 0; k < kErrorKindCount; ++k) {
        if (static_cast<std::size_t>(kErrorKinds[k].kind) != k) return false;
        for (std::size_t j = 0; j < k; ++j)
            if (std::string_view(kErrorKinds[j].text) == kErrorKinds[k].text) return false;
    }
    return static_cast<std::size_t>(ErrorKind::internal) + 1 == kErrorKindCount;
}
static_assert(catalogueIsConsistent(), "kErrorKinds must list every ErrorKind once, in order, with unique texts");

}  // namespace detail

constexpr const ErrorKindEntry& errorKindEntry(ErrorKind kind) { return kErrorKinds[static_cast<std::size_t>(kind)]; }
constexpr const char* kindText(ErrorKind kind) { return errorKindEntry(kind).text; }
constexpr FailureCategory categoryOf(ErrorKind kind) { return errorKindEntry(kind).category; }

}  // namespace lineharvest
