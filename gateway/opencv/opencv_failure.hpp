// The host errors of OpenCV's failures, for the gateways whose modules use
// OpenCV (a module without it does not link OpenCV for its error mapping).
#pragma once

#include "call_failure.hpp"

namespace mexargs {

// cv::Exception: outOfMemory for OpenCV's allocation failures (StsNoMem),
// opencv for the others. False for any other exception.
bool describeOpenCvFailure(std::exception_ptr failure, CallFailure& described);

}  // namespace mexargs
