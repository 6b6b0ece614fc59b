// The argument layer shared by every MEX gateway of this project: named
// input positions, one error style ("<module>:<kind>", the message naming the
// input by position and name), and one exception boundary that turns every
// C++ failure into a host error raised after all objects of the call are
// gone. Only the documented mx*/mex* API is used, so the gateways build
// with MATLAB's mex as well as Octave's.
#pragma once

#include "call_failure.hpp"
#include "mex.h"

#include <string>

namespace mexargs {

class Inputs {
public:
    // names[k] names input k (0-based) in messages, e.g. "distance threshold".
    Inputs(int nrhs, const mxArray** prhs, const char* const* names, int numNames)
        : nrhs_(nrhs), prhs_(prhs), names_(names), numNames_(numNames) {}

    int count() const { return nrhs_; }
    bool has(int position) const { return position < nrhs_; }
    const mxArray* operator[](int position) const { return prhs_[position]; }

    // "input 8 (distance threshold)"
    std::string describe(int position) const;
    [[noreturn]] void refuse(lineharvest::ErrorKind kind, int position, const std::string& what) const;

    // A real, full (not sparse, not complex) double array: notRealDouble.
    void requireRealDouble(int position) const;
    const double* realDoubles(int position) const;
    // Exactly one real double element: emptyScalar when empty, badScalar
    // when it holds more than one.
    double scalar(int position) const;
    // A scalar that is not NaN (infinities allowed): badScalar.
    double threshold(int position) const;
    // A finite scalar whose truncation toward zero fits in an int: badScalar.
    int integer(int position) const;
    // A count: an integer() that is not negative, also before truncation
    // (-0.5 is refused): badCount.
    int count(int position) const;
    // The array holds at least perItem * items doubles: tooSmall.
    void requireElements(int position, long long perItem, long long items, int countPosition) const;
    // A char array as a string: `kind` when not a char row.
    std::string text(int position, lineharvest::ErrorKind kind) const;

private:
    int nrhs_;
    const mxArray** prhs_;
    const char* const* names_;
    int numNames_;
};

// Runs body(); any exception becomes the host error "<module>:<kind>" (see
// describeFailure), raised after body's objects are destroyed.
void runGateway(const char* module, void (*body)(void* context), void* context, FailureClassifier classify);

template <class Body>
void runGateway(const char* module, Body&& body, FailureClassifier classify = nullptr) {
    runGateway(module, [](void* context) { (*static_cast<Body*>(context))(); }, &body, classify);
}

}  // namespace mexargs
