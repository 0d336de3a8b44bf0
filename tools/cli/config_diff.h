#pragma once
// Two configuration documents compared member by member. Pure: no I/O.

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace kinetra::cli {

/// A member whose value differs; a side without the member holds no value.
struct MemberDifference {
    std::string member;
    std::optional<nlohmann::json> device;
    std::optional<nlohmann::json> file;
};

/// The members of the model objects of `device` and `file` whose values differ
/// (numbers compare by value, so 4 equals 4.0), in ascending name order. A
/// document without the model object counts as one without members.
std::vector<MemberDifference> diffConfigurations(const nlohmann::json& device, const nlohmann::json& file);

/// How many members the two model objects have together.
std::size_t memberCount(const nlohmann::json& device, const nlohmann::json& file);

/// A value for the table: its JSON text, or "(absent)".
std::string memberText(const std::optional<nlohmann::json>& value);

}  // namespace kinetra::cli
