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

// A module's own classification of failures the shared mapping does not
// know (OpenCV's, for the modules that use OpenCV): true when it filled in
// the failure.
using FailureClassifier = bool (*)(std::exception_ptr failure, CallFailure& described);

// The kind and message for an exception thrown by a call:
//   CallError                  its kind
//   lineharvest::HarvestError  its kind
//   grid token failures        "gridToken" (the conversion text, source, line, token)
//   std::bad_alloc             "outOfMemory"
//   what classify recognises   its kind
//   anything else              "internal"
CallFailure describeFailure(std::exception_ptr failure, FailureClassifier classify = nullptr);

}  // namespace mexargs
