#include "error_translation.hpp"

#include "argument_error.hpp"

#include "lineharvest/errors.hpp"

#include <opencv2/core.hpp>

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

// Which Python exception a core kind becomes: files are OSError, allocation
// failures MemoryError, failures no argument explains RuntimeError, and
// everything else a refused input (ValueError).
const char* classOfKind(const std::string& kind) {
    if (kind == "gridFile" || kind == "outputFile" || kind == "imageFile" || kind == "damagedImage")
        return "FileError";
    if (kind == "imageTooLarge") return "ImageTooLargeError";
    if (kind == "outOfMemory") return "OutOfMemoryError";
    if (kind == "internal" || kind == "opencv") return "InternalError";
    if (kind == "notRealDouble" || kind == "badGridFile" || kind == "badPath") return "ArgumentTypeError";
    return "InputError";
}

template <class TokenError>
void raiseGridToken(const TokenError& e) {
    const lineharvest::GridTokenPosition& where = e.where;
    const long long line = where.line + 1;
    const std::string message = "grid cell file '" + where.source + "', line " + std::to_string(line) + ", token '" +
                                where.token + "': " + e.what();
    raise(errorClass("GridTokenError")(message, e.what(), py::str(where.source), line, py::str(where.token)));
}

void translate(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const ArgumentError& e) {
        const char* cls = e.category == ArgumentError::Category::type ? "ArgumentTypeError"
                          : e.kind == "imageTooLarge"                 ? "ImageTooLargeError"
                                                                      : "InputError";
        raise(cls, e.what(), e.kind);
    } catch (const FileFailure& e) {
        raise(errorClass("FileError")(e.what(), e.kind, py::bytes(e.path).attr("decode")("utf-8", "surrogateescape")));
    } catch (const lineharvest::HarvestError& e) {
        const char* cls = classOfKind(e.kind());
        if (std::string(cls) == "FileError") {
            raise(errorClass(cls)(e.what(), e.kind()));
        } else {
            raise(cls, e.what(), e.kind());
        }
    } catch (const lineharvest::GridTokenInvalid& e) {
        raiseGridToken(e);
    } catch (const lineharvest::GridTokenOutOfRange& e) {
        raiseGridToken(e);
    } catch (const std::bad_alloc&) {
        raise("OutOfMemoryError", "out of memory", "outOfMemory");
    } catch (const cv::Exception& e) {
        if (e.code == cv::Error::StsNoMem) {
            raise("OutOfMemoryError", "out of memory (" + e.msg + ")", "outOfMemory");
        } else {
            raise("InternalError", std::string("OpenCV error: ") + e.what(), "opencv");
        }
    }
    // Anything else goes on to pybind11's own translators.
}

}  // namespace

void registerErrorTranslation() { py::register_exception_translator(&translate); }

}  // namespace pybinding
