// What a gateway reports for each kind of failure: every allocation failure
// is "outOfMemory", whichever library raised it.
#include "call_failure.hpp"
#include "opencv_failure.hpp"
#include "lineharvest/errors.hpp"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include <fstream>
#include <iterator>
#include <new>
#include <stdexcept>
#include <string>

using mexargs::describeFailure;

namespace {

template <class E>
std::exception_ptr thrown(E e) {
    return std::make_exception_ptr(e);
}

}  // namespace

TEST(CallFailure, KindOfEachFailure) {
    struct Case { const char* what; std::exception_ptr failure; const char* kind; const char* inMessage; } cases[] = {
        {"refused call", thrown(mexargs::CallFailure{lineharvest::ErrorKind::badScalar, "input 8 must not be NaN"}), "badScalar", "input 8"},
        {"core error", thrown(lineharvest::HarvestError(lineharvest::ErrorKind::gridFile, "not a regular file")), "gridFile", "regular"},
        {"token", thrown(lineharvest::GridTokenInvalid({"g.txt", 4, "x7"})), "gridToken", "g.txt', line 5, token 'x7': invalid stoi argument"},
        {"token range", thrown(lineharvest::GridTokenOutOfRange({"g.txt", 0, "9999999999"})), "gridToken", "stoi argument out of range"},
        {"bad_alloc", thrown(std::bad_alloc()), "outOfMemory", "out of memory"},
        {"OpenCV allocation", thrown(cv::Exception(cv::Error::StsNoMem, "Failed to allocate 80000000000 bytes", "f", "x.cpp", 1)), "outOfMemory", "Failed to allocate"},
        {"OpenCV other", thrown(cv::Exception(cv::Error::StsBadSize, "sizes differ", "f", "x.cpp", 1)), "opencv", "sizes differ"},
        {"other std", thrown(std::logic_error("broken")), "internal", "broken"},
        {"not std", thrown(42), "internal", "unknown"},
    };
    for (const auto& c : cases) {
        const mexargs::CallFailure f = describeFailure(c.failure, mexargs::describeOpenCvFailure);
        EXPECT_STREQ(c.kind, lineharvest::kindText(f.kind)) << c.what;
        EXPECT_NE(std::string::npos, f.message.find(c.inMessage)) << c.what << ": " << f.message;
    }
}

// A module without OpenCV still maps everything; OpenCV's errors are then
// just internal failures.
TEST(CallFailure, WithoutTheOpenCvClassifier) {
    EXPECT_EQ(lineharvest::ErrorKind::outOfMemory, describeFailure(std::make_exception_ptr(std::bad_alloc())).kind);
    EXPECT_EQ(lineharvest::ErrorKind::internal, describeFailure(std::make_exception_ptr(cv::Exception(cv::Error::StsNoMem, "m", "f", "x", 1))).kind);
}

// Every kind, under its own category and refused as a wrong type (as the
// Python binding may refuse any kind), names a class that the Python
// package defines: a class missing there would fail only when that error
// is raised.
TEST(CallFailure, EveryKindHasAPythonClass) {
    const std::string source = __FILE__;
    const std::string errorsFile = source.substr(0, source.rfind("/tests/cpp/")) + "/python/lineharvest/_errors.py";
    std::ifstream in(errorsFile);
    ASSERT_TRUE(in) << errorsFile;
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const lineharvest::ErrorKindEntry& entry : lineharvest::kErrorKinds) {
        for (const lineharvest::FailureCategory category : {entry.category, lineharvest::FailureCategory::argumentType}) {
            const std::string pythonClass = mexargs::hostError(entry.kind, category).pythonClass;
            EXPECT_NE(std::string::npos, text.find("\nclass " + pythonClass + "(")) << entry.text << ": " << pythonClass;
        }
    }
}
