// What a front end reports for a failed call: the catalogue kind (the host
// error identifier "<module>:<kind>", the Python exception's kind) and the
// message; and how each host reports a kind. Kept apart from the MEX API so
// that the command and the Python binding use the same mapping, and so
// that it is tested without a host.
#pragma once

#include "lineharvest/error_kinds.hpp"

#include <exception>
#include <string>

namespace mexargs {

// A failed call: thrown by a gateway to refuse a call, and what
// describeFailure makes of any exception.
struct CallFailure {
    lineharvest::ErrorKind kind;
    std::string message;
};

// A module's own classification of failures the shared mapping does not
// know (OpenCV's, for the modules that use OpenCV): true when it filled in
// the failure.
using FailureClassifier = bool (*)(std::exception_ptr failure, CallFailure& described);

// The kind and message for an exception thrown by a call:
//   CallFailure                itself
//   lineharvest::HarvestError  its kind
//   grid token failures        gridToken (the conversion text, source, line, token)
//   std::bad_alloc             outOfMemory
//   what classify recognises   its kind
// and false, `described` untouched, for anything else.
bool describeKnownFailure(std::exception_ptr failure, CallFailure& described, FailureClassifier classify = nullptr);

// As describeKnownFailure, with anything else "internal" (its what(), or
// "unknown failure").
CallFailure describeFailure(std::exception_ptr failure, FailureClassifier classify = nullptr);

// How the hosts report a failure. The MEX identifier is "<module>:<kind
// text>" for every kind; the rest follows from the category.
struct HostError {
    // The class of lineharvest._errors the Python binding raises.
    const char* pythonClass;
    // The linematch command's exit status.
    int exitStatus;
};

// `category` is the kind's own unless the raising front end knows better
// (the Python binding refuses a value of the wrong type as argumentType
// whatever its kind).
HostError hostError(lineharvest::ErrorKind kind, lineharvest::FailureCategory category);
inline HostError hostError(lineharvest::ErrorKind kind) { return hostError(kind, lineharvest::categoryOf(kind)); }

}  // namespace mexargs
