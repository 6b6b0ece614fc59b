// What a gateway reports for a failed call: the kind that becomes the host
// error identifier "<module>:<kind>", and the message. Kept apart from the
// MEX API so that the mapping is tested without a host.
#pragma once

#include <exception>
#include <string>

namespace mexargs {

// A refused call: reported as "<module>:<kind>" with this message.
struct CallError {
    std::string kind;
    std::string message;
};

struct CallFailure {
    std::string kind;
    std::string message;
};

// The kind and message for an exception thrown by a call:
//   CallError                  its kind
//   lineharvest::HarvestError  its kind
//   grid token failures        "gridToken" (the conversion text, source, line, token)
//   allocation failures        "outOfMemory" (std::bad_alloc, OpenCV's StsNoMem)
//   other cv::Exception        "opencv"
//   anything else              "internal"
CallFailure describeFailure(std::exception_ptr failure);

}  // namespace mexargs
