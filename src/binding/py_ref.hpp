#pragma once
// OwnedRef: the one owner of a strong Python reference.
//
// Every PyObject* that the binding owns lives in an OwnedRef, so a reference
// is released exactly once, on every path, including unwinding from an
// internal failure. Construction says where the reference comes from:
//   OwnedRef::steal(p)   takes over a new reference (the result of a CPython
//                        call documented as "new reference"); p may be null;
//   OwnedRef::borrow(p)  takes a new reference of its own to a borrowed
//                        pointer (Py_IncRef); p may be null.
// release() hands the reference on to a caller or a stealing CPython call.
//
// Releasing a reference may run arbitrary Python code (a __del__), so an
// OwnedRef must only die while the thread holds the interpreter lock, which
// is always the case inside an entry frame.
#include <utility>

#include "python_api.hpp"

namespace morvanex::binding {

class OwnedRef {
public:
    OwnedRef() noexcept = default;

    [[nodiscard]] static OwnedRef steal(PyObject* object) noexcept { return OwnedRef(object); }
    [[nodiscard]] static OwnedRef borrow(PyObject* object) noexcept {
        Py_IncRef(object);
        return OwnedRef(object);
    }

    OwnedRef(OwnedRef&& other) noexcept : object_(other.release()) {}
    OwnedRef& operator=(OwnedRef&& other) noexcept {
        if (this != &other) {
            reset();
            object_ = other.release();
        }
        return *this;
    }
    OwnedRef(const OwnedRef&) = delete;
    OwnedRef& operator=(const OwnedRef&) = delete;
    ~OwnedRef() { reset(); }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

    // A second strong reference to the same object.
    [[nodiscard]] OwnedRef share() const noexcept { return borrow(object_); }

    // Gives up ownership without releasing; the caller now owns the reference.
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }

    void reset() noexcept {
        // Cleared before the release, which may run Python code.
        Py_DecRef(std::exchange(object_, nullptr));
    }

private:
    explicit OwnedRef(PyObject* object) noexcept : object_(object) {}

    PyObject* object_ = nullptr;
};

}  // namespace morvanex::binding
