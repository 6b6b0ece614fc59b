#include "opencv_failure.hpp"

#include <opencv2/core.hpp>

namespace mexargs {

bool describeOpenCvFailure(std::exception_ptr failure, CallFailure& described) {
    try {
        std::rethrow_exception(failure);
    } catch (const cv::Exception& e) {
        // OpenCV reports its own allocation failures as an error code.
        if (e.code == cv::Error::StsNoMem)
            described = {lineharvest::ErrorKind::outOfMemory, "out of memory (OpenCV: " + e.err + ")"};
        else
            described = {lineharvest::ErrorKind::opencv, std::string("OpenCV error: ") + e.what()};
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace mexargs
