#pragma once
// The description of one device operation: its public name, how its request goes
// on the bus (identifier, frame kind, DLC), the arguments it carries with their
// type, scale, unit and allowed range, the names and units of its reply values,
// and a one-line description. Each device class lists its operations once in a
// table of these; the proxies build their requests from it, the bindings take
// their names and docstrings from it and the tool its names and units. Reply
// layouts are not repeated here: the routing tables keep them.

#include "can/bus.h"
#include "devices/protocol/reply_layout.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

// The context a user of an operation list passes through to its entries, as a
// parenthesised list of three (the class, its implementation, the namespace of
// its entries): KINETRA_CTX_1 ctx is the first element, and so on.
#define KINETRA_CTX_1(first, second, third) first
#define KINETRA_CTX_2(first, second, third) second
#define KINETRA_CTX_3(first, second, third) third

namespace kinetra::protocol {

/// How an operation's request travels and whether a reply is awaited.
enum class OperationKind : uint8_t {
    Command,    ///< a frame without reply
    Query,      ///< a remote frame, DLC 8, answered by one reply
    DataQuery,  ///< a data frame carrying arguments, answered by one reply
};

/// One argument of a request, or one value of a reply.
struct Field {
    const char* name = "";
    ValueKind kind = ValueKind::F32;
    /// 0: the value travels as its kind. Otherwise a float argument travels as
    /// value / scale in an integer of `kind` (truncated, low bits kept).
    float scale = 0.0f;
    const char* unit = "";
    bool ranged = false;  ///< the device accepts only values in [min, max]
    double min = 0.0;
    double max = 0.0;
    bool constant = false;  ///< always carries `value`; no argument of the caller
    double value = 0.0;

    /// Whether a caller's value may be sent in this field: finite, and within
    /// the range where the device declares one.
    bool accepts(double v) const { return std::isfinite(v) && (!ranged || (v >= min && v <= max)); }
};

/// At most this many fields in a request or reply: one per payload byte.
constexpr std::size_t kMaxFields = 8;

/// One operation of a device class.
struct Operation {
    const char* name = "";
    uint8_t command = 0;
    OperationKind kind = OperationKind::Command;
    FrameKind frame = FrameKind::Data;
    uint8_t dlc = 0;
    std::array<Field, kMaxFields> args{};  ///< request payload fields, in payload order
    uint8_t arg_count = 0;
    std::array<Field, kMaxFields> values{};  ///< reply values, in reply order
    uint8_t value_count = 0;
    const char* description = "";

    /// Whether a reply is awaited.
    constexpr bool isQuery() const { return kind != OperationKind::Command; }
    /// The number of arguments a caller passes (constant fields excluded).
    constexpr std::size_t callerArgs() const {
        std::size_t n = 0;
        for (std::size_t i = 0; i < arg_count; ++i) n += args[i].constant ? 0 : 1;
        return n;
    }
    /// Whether any argument has a declared range.
    constexpr bool hasRange() const {
        for (std::size_t i = 0; i < arg_count; ++i) {
            if (args[i].ranged) return true;
        }
        return false;
    }
};

// ---- Builders, so that a table entry reads as one line.

/// An argument or reply value travelling as its kind.
constexpr Field field(const char* name, ValueKind kind, const char* unit = "") {
    Field f;
    f.name = name;
    f.kind = kind;
    f.unit = unit;
    return f;
}
/// A float argument sent as value / scale in an integer of `kind`.
constexpr Field scaled(const char* name, ValueKind kind, float scale, const char* unit = "") {
    Field f = field(name, kind, unit);
    f.scale = scale;
    return f;
}
/// An argument the device accepts only within [min, max].
constexpr Field ranged(const char* name, ValueKind kind, double min, double max, const char* unit = "") {
    Field f = field(name, kind, unit);
    f.ranged = true;
    f.min = min;
    f.max = max;
    return f;
}
/// A field the request always carries with `value`.
constexpr Field constant(ValueKind kind, double value) {
    Field f = field("", kind);
    f.constant = true;
    f.value = value;
    return f;
}

/// Short builders for the tables' fields, by kind.
namespace fields {
using K = ValueKind;
constexpr Field real(const char* name, const char* unit = "") { return field(name, K::F32, unit); }
constexpr Field flag(const char* name) { return field(name, K::Bool); }
constexpr Field byte(const char* name, const char* unit = "") { return field(name, K::U8, unit); }
constexpr Field word16(const char* name, const char* unit = "") { return field(name, K::U16, unit); }
constexpr Field int16(const char* name, const char* unit = "") { return field(name, K::I16, unit); }
constexpr Field int32(const char* name, const char* unit = "") { return field(name, K::I32, unit); }
constexpr Field word32(const char* name, const char* unit = "") { return field(name, K::U32, unit); }
constexpr Field word64(const char* name) { return field(name, K::U64); }
/// A float set point sent as value / scale in 16 bits.
constexpr Field s16(const char* name, float scale, const char* unit = "") { return scaled(name, K::I16, scale, unit); }
/// A float set point sent as value / scale in 8 bits.
constexpr Field s8(const char* name, float scale, const char* unit = "") { return scaled(name, K::U8, scale, unit); }
}  // namespace fields

namespace detail {
constexpr void copyFields(std::array<Field, kMaxFields>& to, uint8_t& count, std::initializer_list<Field> from) {
    count = 0;
    for (const Field& f : from) to[count++] = f;
}
}  // namespace detail

/// A request without reply.
constexpr Operation command(const char* name, uint8_t id, FrameKind frame, uint8_t dlc,
                            std::initializer_list<Field> args, const char* description) {
    Operation op;
    op.name = name;
    op.command = id;
    op.kind = OperationKind::Command;
    op.frame = frame;
    op.dlc = dlc;
    detail::copyFields(op.args, op.arg_count, args);
    op.description = description;
    return op;
}
/// A remote-frame query (DLC 8) whose reply values are `values`.
constexpr Operation query(const char* name, uint8_t id, std::initializer_list<Field> values,
                          const char* description) {
    Operation op;
    op.name = name;
    op.command = id;
    op.kind = OperationKind::Query;
    op.frame = FrameKind::Remote;
    op.dlc = kQueryDlc;
    detail::copyFields(op.values, op.value_count, values);
    op.description = description;
    return op;
}
/// A query whose request is a data frame carrying `args`.
constexpr Operation dataQuery(const char* name, uint8_t id, uint8_t dlc, std::initializer_list<Field> args,
                              std::initializer_list<Field> values, const char* description) {
    Operation op = query(name, id, values, description);
    op.kind = OperationKind::DataQuery;
    op.frame = FrameKind::Data;
    op.dlc = dlc;
    detail::copyFields(op.args, op.arg_count, args);
    return op;
}

/// A class's operations: a list of pointers to named table entries (the entries
/// are named so that the proxies can take them as template arguments).
struct OperationTable {
    const Operation* const* entries;
    std::size_t size;

    constexpr const Operation* const* begin() const { return entries; }
    constexpr const Operation* const* end() const { return entries + size; }

    /// The query answered by replies of `command`, or nullptr: what a control
    /// cycle needs to read it (request frame, DLC, reply layout via the routes).
    constexpr const Operation* findQuery(uint8_t command) const {
        for (std::size_t i = 0; i < size; ++i) {
            if (entries[i]->isQuery() && entries[i]->command == command) return entries[i];
        }
        return nullptr;
    }
    /// The operation of this public name, or nullptr.
    const Operation* find(const char* name) const {
        for (std::size_t i = 0; i < size; ++i) {
            if (std::strcmp(entries[i]->name, name) == 0) return entries[i];
        }
        return nullptr;
    }
};

template <std::size_t N>
constexpr OperationTable tableOf(const Operation* const (&entries)[N]) {
    return OperationTable{entries, N};
}

}  // namespace kinetra::protocol
