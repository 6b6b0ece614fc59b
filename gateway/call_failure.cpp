#include "call_failure.hpp"

#include "lineharvest/errors.hpp"

#include <new>

namespace mexargs {

using lineharvest::ErrorKind;
using lineharvest::FailureCategory;

namespace {

std::string gridTokenMessage(const lineharvest::GridTokenPosition& where, const char* what) {
    return "grid cell file '" + where.source + "', line " + std::to_string(where.line + 1) + ", token '" +
           where.token + "': " + what;
}

}  // namespace

bool describeKnownFailure(std::exception_ptr failure, CallFailure& described, FailureClassifier classify) {
    if (classify && classify(failure, described)) return true;
    try {
        std::rethrow_exception(failure);
    } catch (const CallFailure& e) {
        described = e;
    } catch (const lineharvest::HarvestError& e) {
        described = {e.errorKind(), e.what()};
    } catch (const lineharvest::GridTokenInvalid& e) {
        described = {ErrorKind::gridToken, gridTokenMessage(e.where, e.what())};
    } catch (const lineharvest::GridTokenOutOfRange& e) {
        described = {ErrorKind::gridToken, gridTokenMessage(e.where, e.what())};
    } catch (const std::bad_alloc&) {
        described = {ErrorKind::outOfMemory, "out of memory"};
    } catch (...) {
        return false;
    }
    return true;
}

CallFailure describeFailure(std::exception_ptr failure, FailureClassifier classify) {
    CallFailure described{ErrorKind::internal, {}};
    if (describeKnownFailure(failure, described, classify)) return described;
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        return {ErrorKind::internal, e.what()};
    } catch (...) {
        return {ErrorKind::internal, "unknown failure"};
    }
}

HostError hostError(ErrorKind kind, FailureCategory category) {
    // The command refuses a bad option as a bad command line (exit status
    // 2, as its usage errors); every other failure of a run is 1.
    const int exitStatus = kind == ErrorKind::badOptions ? 2 : 1;
    // Two kinds have a Python class of their own, more precise than their
    // category's (both are InputErrors).
    if (kind == ErrorKind::gridToken) return {"GridTokenError", exitStatus};
    if (kind == ErrorKind::imageTooLarge && category == FailureCategory::value)
        return {"ImageTooLargeError", exitStatus};
    switch (category) {
        case FailureCategory::argumentType: return {"ArgumentTypeError", exitStatus};
        case FailureCategory::value: return {"InputError", exitStatus};
        case FailureCategory::file: return {"FileError", exitStatus};
        case FailureCategory::memory: return {"OutOfMemoryError", exitStatus};
        case FailureCategory::internal: return {"InternalError", exitStatus};
    }
    return {"InternalError", exitStatus};
}

}  // namespace mexargs
