#pragma once
// Defines a proxy's public operations from the lists of its class's operation
// table: one line per list in the proxy's source instead of one definition per
// operation.

#include "devices/forward.h"

namespace kinetra {

/// A call of the table entry `Op` on `impl`, taking the operation's arguments.
template <const protocol::Operation& Op, typename Impl>
auto entryOn(Impl* impl) {
    return [impl](auto... args) { return forwardOperation<Op>(impl, args...); };
}

/// A call of the implementation's `method` on `impl`, taking its arguments.
template <typename Impl, typename Method>
auto methodOn(Impl* impl, Method method) {
    return [impl, method](auto... args) { return forwardTo(impl, method, args...); };
}

}  // namespace kinetra

// Given to an operation list with the context (Class, Impl, Entries):

/// Class::name runs the table entry Entries::name on the implementation.
#define KINETRA_FORWARD_TO_ENTRY(ctx, name, params, args) \
    ret_status_t KINETRA_CTX_1 ctx::name params { return kinetra::entryOn<KINETRA_CTX_3 ctx::name>(impl_) args; }

/// Class::name runs the implementation's method of the same name.
#define KINETRA_FORWARD_TO_METHOD(ctx, name, params, args) \
    ret_status_t KINETRA_CTX_1 ctx::name params { return kinetra::methodOn(impl_, &KINETRA_CTX_2 ctx::name) args; }
