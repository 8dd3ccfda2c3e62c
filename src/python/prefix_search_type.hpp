// The PrefixSearch Python type: object layout, creation of instances, and the
// shared borrow that every instance method takes on its receiver.
#pragma once

#include <Python.h>

#include <atomic>
#include <cstdint>

#include "kelnor.hpp"
#include "python/ref.hpp"

namespace kelnor::py {

// Layout of a PrefixSearch instance. The value is placement-constructed by
// make_instance() and destroyed explicitly by the type's dealloc.
struct PrefixSearchObject {
    PyObject_HEAD PrefixSearch value;
    // 0: free; n: n calls hold shared access; all ones: exclusive access,
    // which no method takes.
    std::atomic<std::uint32_t> borrow_count;
};

// The type object, created once per process on first use.
PyTypeObject* prefix_search_type();

// A new PrefixSearch object that owns `value`.
PyRef make_instance(PrefixSearch&& value);

// Shared access to the receiver of an instance method for the duration of
// the call: checks its type, counts the borrow and holds a reference.
class ReceiverBorrow {
  public:
    explicit ReceiverBorrow(PyObject* receiver);
    ~ReceiverBorrow();
    ReceiverBorrow(const ReceiverBorrow&) = delete;
    ReceiverBorrow& operator=(const ReceiverBorrow&) = delete;

    const PrefixSearch& value() const noexcept { return object_->value; }

  private:
    PrefixSearchObject* object_;
};

}  // namespace kelnor::py
