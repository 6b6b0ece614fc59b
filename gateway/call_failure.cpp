#include "call_failure.hpp"

#include "lineharvest/errors.hpp"

#include <new>

namespace mexargs {

namespace {

std::string gridTokenMessage(const lineharvest::GridTokenPosition& where, const char* what) {
    return "grid cell file '" + where.source + "', line " + std::to_string(where.line + 1) + ", token '" +
           where.token + "': " + what;
}

}  // namespace

CallFailure describeFailure(std::exception_ptr failure, FailureClassifier classify) {
    CallFailure described;
    if (classify && classify(failure, described)) return described;
    try {
        std::rethrow_exception(failure);
    } catch (const CallError& e) {
        return {e.kind, e.message};
    } catch (const lineharvest::HarvestError& e) {
        return {e.kind(), e.what()};
    } catch (const lineharvest::GridTokenInvalid& e) {
        return {"gridToken", gridTokenMessage(e.where, e.what())};
    } catch (const lineharvest::GridTokenOutOfRange& e) {
        return {"gridToken", gridTokenMessage(e.where, e.what())};
    } catch (const std::bad_alloc&) {
        return {"outOfMemory", "out of memory"};
    } catch (const std::exception& e) {
        return {"internal", e.what()};
    } catch (...) {
        return {"internal", "unknown failure"};
    }
}

}  // namespace mexargs
