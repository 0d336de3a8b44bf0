#pragma once
// Node::answer(): the reply packing of the simulated nodes' query handlers, kept
// out of the installed node.h because it is built on the protocol's payload and
// layout tables. Not installed, like payload_values.h.

#include "devices/protocol/reply_layout.h"
#include "kinetra_sim/node.h"
#include "kinetra_sim/payload_values.h"

#include <tuple>
#include <type_traits>

namespace kinetra::sim {

template <typename T>
struct IsTuple : std::false_type {};
template <typename... T>
struct IsTuple<std::tuple<T...>> : std::true_type {};

template <typename Fn>
void Node::answer(uint8_t command, Fn fn) {
    // The handler may take the request or nothing; its values may be a tuple or one value.
    auto values = [fn](const can_frame_data& request) {
        if constexpr (std::is_invocable_v<Fn, const can_frame_data&>) {
            return fn(request);
        } else {
            (void)request;
            return fn();
        }
    };
    using Result = std::decay_t<decltype(values(std::declval<const can_frame_data&>()))>;
    auto as_tuple = [values](const can_frame_data& request) {
        if constexpr (IsTuple<Result>::value) {
            return values(request);
        } else {
            return std::tuple<Result>(values(request));
        }
    };
    using Tuple = std::decay_t<decltype(as_tuple(std::declval<const can_frame_data&>()))>;
    registerQuery(command, layoutOfTuple(static_cast<const Tuple*>(nullptr)),
                  [as_tuple](const can_frame_data& request, can_frame_data& reply) {
                      packReply(reply, as_tuple(request));
                  });
}

}  // namespace kinetra::sim
