#include "mex_args.hpp"

#include <cmath>
#include <cstdio>
#include <string>

namespace mexargs {

using lineharvest::ErrorKind;

namespace {

std::string number(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.17g", value);
    return buffer;
}

}  // namespace

std::string Inputs::describe(int position) const {
    std::string text = "input " + std::to_string(position + 1);
    if (position < numNames_) text += std::string(" (") + names_[position] + ")";
    return text;
}

void Inputs::refuse(lineharvest::ErrorKind kind, int position, const std::string& what) const {
    throw CallFailure{kind, describe(position) + " " + what};
}

void Inputs::requireRealDouble(int position) const {
    const mxArray* a = prhs_[position];
    if (!mxIsDouble(a) || mxIsComplex(a) || mxIsSparse(a))
        refuse(ErrorKind::notRealDouble, position, "must be a real, full double array");
}

const double* Inputs::realDoubles(int position) const {
    requireRealDouble(position);
    return mxGetPr(prhs_[position]);
}

double Inputs::scalar(int position) const {
    requireRealDouble(position);
    const std::size_t n = mxGetNumberOfElements(prhs_[position]);
    if (n < 1) refuse(ErrorKind::emptyScalar, position, "must not be empty");
    if (n > 1) refuse(ErrorKind::badScalar, position, "must be a scalar, got " + std::to_string(n) + " elements");
    return mxGetPr(prhs_[position])[0];
}

double Inputs::threshold(int position) const {
    const double value = scalar(position);
    if (std::isnan(value)) refuse(ErrorKind::badScalar, position, "must not be NaN");
    return value;
}

int Inputs::integer(int position) const {
    const double value = scalar(position);
    if (!(value > -2147483649.0 && value < 2147483648.0))
        refuse(ErrorKind::badScalar, position, "must be finite and fit in a 32-bit integer, got " + number(value));
    return static_cast<int>(value);
}

int Inputs::count(int position) const {
    const double value = scalar(position);
    if (value < 0) refuse(ErrorKind::badCount, position, "must not be negative, got " + number(value));
    return integer(position);
}

void Inputs::requireElements(int position, long long perItem, long long items, int countPosition) const {
    const long long needed = perItem * items;
    const long long held = static_cast<long long>(mxGetNumberOfElements(prhs_[position]));
    if (held < needed)
        refuse(ErrorKind::tooSmall, position,
               "holds " + std::to_string(held) + " elements, but " + describe(countPosition) + " = " +
                   std::to_string(items) + " needs " + std::to_string(needed));
}

std::string Inputs::text(int position, lineharvest::ErrorKind kind) const {
    const mxArray* a = prhs_[position];
    if (!mxIsChar(a) || (mxGetM(a) > 1 && mxGetN(a) > 0)) refuse(kind, position, "must be a char row");
    char* raw = mxArrayToString(a);
    if (raw == nullptr) refuse(kind, position, "could not be converted to a string");
    std::string result(raw);
    mxFree(raw);
    return result;
}

void runGateway(const char* module, void (*body)(void* context), void* context, FailureClassifier classify) {
    // Plain buffers: MATLAB's error raise does not run destructors of the
    // frame that calls it, so nothing here may own heap memory by then.
    char id[128] = {};
    char message[2048] = {};
    {
        std::exception_ptr failure;
        try {
            body(context);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!failure) return;
        const CallFailure described = describeFailure(failure, classify);
        std::snprintf(id, sizeof id, "%s:%s", module, lineharvest::kindText(described.kind));
        std::snprintf(message, sizeof message, "%s", described.message.c_str());
    }
    // Raised only here, after every object of the call has been destroyed
    // and every file closed.
    mexErrMsgIdAndTxt(id, "%s", message);
}

}  // namespace mexargs
