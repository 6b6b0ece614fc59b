#include "mex_args.hpp"

#include "lineharvest/errors.hpp"

#include <opencv2/core.hpp>

#include <cmath>
#include <cstdio>
#include <new>
#include <string>

namespace mexargs {

namespace {

std::string number(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.17g", value);
    return buffer;
}

std::string gridTokenMessage(const lineharvest::GridTokenPosition& where, const char* what) {
    return "grid cell file '" + where.source + "', line " + std::to_string(where.line + 1) + ", token '" +
           where.token + "': " + what;
}

}  // namespace

std::string Inputs::describe(int position) const {
    std::string text = "input " + std::to_string(position + 1);
    if (position < numNames_) text += std::string(" (") + names_[position] + ")";
    return text;
}

void Inputs::refuse(const std::string& kind, int position, const std::string& what) const {
    throw CallError{kind, describe(position) + " " + what};
}

void Inputs::requireRealDouble(int position) const {
    const mxArray* a = prhs_[position];
    if (!mxIsDouble(a) || mxIsComplex(a) || mxIsSparse(a))
        refuse("notRealDouble", position, "must be a real, full double array");
}

const double* Inputs::realDoubles(int position) const {
    requireRealDouble(position);
    return mxGetPr(prhs_[position]);
}

double Inputs::scalar(int position) const {
    requireRealDouble(position);
    const std::size_t n = mxGetNumberOfElements(prhs_[position]);
    if (n < 1) refuse("emptyScalar", position, "must not be empty");
    if (n > 1) refuse("badScalar", position, "must be a scalar, got " + std::to_string(n) + " elements");
    return mxGetPr(prhs_[position])[0];
}

double Inputs::threshold(int position) const {
    const double value = scalar(position);
    if (std::isnan(value)) refuse("badScalar", position, "must not be NaN");
    return value;
}

int Inputs::integer(int position) const {
    const double value = scalar(position);
    if (!(value > -2147483649.0 && value < 2147483648.0))
        refuse("badScalar", position, "must be finite and fit in a 32-bit integer, got " + number(value));
    return static_cast<int>(value);
}

int Inputs::count(int position) const {
    const double value = scalar(position);
    if (value < 0) refuse("badCount", position, "must not be negative, got " + number(value));
    return integer(position);
}

void Inputs::requireElements(int position, long long perItem, long long items, int countPosition) const {
    const long long needed = perItem * items;
    const long long held = static_cast<long long>(mxGetNumberOfElements(prhs_[position]));
    if (held < needed)
        refuse("tooSmall", position,
               "holds " + std::to_string(held) + " elements, but " + describe(countPosition) + " = " +
                   std::to_string(items) + " needs " + std::to_string(needed));
}

std::string Inputs::text(int position, const std::string& kind) const {
    const mxArray* a = prhs_[position];
    if (!mxIsChar(a) || (mxGetM(a) > 1 && mxGetN(a) > 0)) refuse(kind, position, "must be a char row");
    char* raw = mxArrayToString(a);
    if (raw == nullptr) refuse(kind, position, "could not be converted to a string");
    std::string result(raw);
    mxFree(raw);
    return result;
}

namespace {

// Fills kind and message from the exception being handled by body's caller;
// false when body returned normally.
bool failureOf(void (*body)(void* context), void* context, std::string& kind, std::string& message) {
    try {
        body(context);
    } catch (const CallError& e) {
        kind = e.kind;
        message = e.message;
    } catch (const lineharvest::HarvestError& e) {
        kind = e.kind();
        message = e.what();
    } catch (const lineharvest::GridTokenInvalid& e) {
        kind = "gridToken";
        message = gridTokenMessage(e.where, e.what());
    } catch (const lineharvest::GridTokenOutOfRange& e) {
        kind = "gridToken";
        message = gridTokenMessage(e.where, e.what());
    } catch (const std::bad_alloc&) {
        kind = "outOfMemory";
        message = "out of memory";
    } catch (const cv::Exception& e) {
        if (e.code == cv::Error::StsNoMem) {
            kind = "outOfMemory";
            message = std::string("out of memory (OpenCV: ") + e.err + ")";
        } else {
            kind = "opencv";
            message = std::string("OpenCV error: ") + e.what();
        }
    } catch (const std::exception& e) {
        kind = "internal";
        message = e.what();
    } catch (...) {
        kind = "internal";
        message = "unknown failure";
    }
    return !kind.empty();
}

}  // namespace

void runGateway(const char* module, void (*body)(void* context), void* context) {
    // Plain buffers: MATLAB's error raise does not run destructors of the
    // frame that calls it, so nothing here may own heap memory by then.
    char id[128] = {};
    char message[2048] = {};
    {
        std::string kind, text;
        if (!failureOf(body, context, kind, text)) return;
        std::snprintf(id, sizeof id, "%s:%s", module, kind.c_str());
        std::snprintf(message, sizeof message, "%s", text.c_str());
    }
    // Raised only here, after every object of the call has been destroyed
    // and every file closed.
    mexErrMsgIdAndTxt(id, "%s", message);
}

}  // namespace mexargs
