// Owned Python references as a type.
//
// PyRef holds a new (owned) reference and releases it when it goes out of
// scope; release() hands it over to the caller, which is how every entry point
// returns its result. Borrowed references stay plain PyObject* and are never
// decref'd.
#pragma once

#include <Python.h>

#include <utility>

namespace kelnor::py {

class PyRef {
  public:
    PyRef() noexcept = default;
    // Takes ownership of a new reference (which may be null).
    explicit PyRef(PyObject* owned) noexcept : object_(owned) {}
    // Takes a new reference to a borrowed object.
    static PyRef borrowed(PyObject* object) noexcept {
        Py_XINCREF(object);
        return PyRef(object);
    }

    PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    PyRef& operator=(PyRef&& other) noexcept {
        PyRef(std::move(other)).swap(*this);
        return *this;
    }
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    ~PyRef() { Py_XDECREF(object_); }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    void swap(PyRef& other) noexcept { std::swap(object_, other.object_); }

  private:
    PyObject* object_ = nullptr;
};

}  // namespace kelnor::py
