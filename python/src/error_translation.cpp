#include "error_translation.hpp"

#include "argument_error.hpp"
#include "call_failure.hpp"
#include "opencv_failure.hpp"

#include "lineharvest/errors.hpp"

#include <new>
#include <string>

namespace pybinding {

namespace py = pybind11;

namespace {

py::object errorClass(const char* name) { return py::module_::import("lineharvest._errors").attr(name); }

void raise(const py::object& exception) { PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr())), exception.ptr()); }

void raise(const char* className, const std::string& message, const std::string& kind) {
    raise(errorClass(className)(message, kind));
}

// The Python exception of a failure: the class of its kind and category
// (the gateways' hostError, which the MEX files and the command report
// through as well), built with (message, kind).
void raise(lineharvest::ErrorKind kind, lineharvest::FailureCategory category, const std::string& message) {
    raise(mexargs::hostError(kind, category).pythonClass, message, lineharvest::kindText(kind));
}

template <class TokenError>
void raiseGridToken(const TokenError& e) {
    const lineharvest::GridTokenPosition& where = e.where;
    const long long line = where.line + 1;
    const std::string message = "grid cell file '" + where.source + "', line " + std::to_string(line) + ", token '" +
                                where.token + "': " + e.what();
    raise(errorClass(mexargs::hostError(lineharvest::ErrorKind::gridToken).pythonClass)(message, e.what(), py::str(where.source), line, py::str(where.token)));
}

void translate(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const ArgumentError& e) {
        raise(e.kind, e.category, e.what());
        return;
    } catch (const FileFailure& e) {
        raise(errorClass(mexargs::hostError(e.kind).pythonClass)(
            e.what(), lineharvest::kindText(e.kind), py::bytes(e.path).attr("decode")("utf-8", "surrogateescape")));
        return;
    } catch (const lineharvest::GridTokenInvalid& e) {
        raiseGridToken(e);
        return;
    } catch (const lineharvest::GridTokenOutOfRange& e) {
        raiseGridToken(e);
        return;
    } catch (...) {
    }
    // The core's failures, allocation failures and OpenCV's, described as
    // the MEX gateways describe them. Anything else goes on to pybind11's
    // own translators.
    mexargs::CallFailure described{lineharvest::ErrorKind::internal, {}};
    if (mexargs::describeKnownFailure(failure, described, mexargs::describeOpenCvFailure))
        raise(described.kind, lineharvest::categoryOf(described.kind), described.message);
    else
        std::rethrow_exception(failure);
}

}  // namespace

void registerErrorTranslation() { py::register_exception_translator(&translate); }

}  // namespace pybinding
