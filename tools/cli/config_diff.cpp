#include "cli/config_diff.h"

#include "config/config_members.h"

#include <set>

namespace kinetra::cli {

namespace {
const nlohmann::json& modelObject(const nlohmann::json& document) {
    static const nlohmann::json kNone = nlohmann::json::object();
    if (!document.is_object()) return kNone;
    const auto it = document.find(kinetra::config::kModelName);
    return it != document.end() && it->is_object() ? *it : kNone;
}

std::set<std::string> memberNames(const nlohmann::json& a, const nlohmann::json& b) {
    std::set<std::string> names;
    for (const auto& [name, value] : a.items()) names.insert(name);
    for (const auto& [name, value] : b.items()) names.insert(name);
    return names;
}

std::optional<nlohmann::json> member(const nlohmann::json& object, const std::string& name) {
    const auto it = object.find(name);
    if (it == object.end()) return std::nullopt;
    return *it;
}
}  // namespace

std::vector<MemberDifference> diffConfigurations(const nlohmann::json& device, const nlohmann::json& file) {
    const nlohmann::json& ours = modelObject(device);
    const nlohmann::json& theirs = modelObject(file);
    std::vector<MemberDifference> differences;
    for (const std::string& name : memberNames(ours, theirs)) {
        MemberDifference difference{name, member(ours, name), member(theirs, name)};
        if (difference.device != difference.file) differences.push_back(std::move(difference));
    }
    return differences;
}

std::size_t memberCount(const nlohmann::json& device, const nlohmann::json& file) {
    return memberNames(modelObject(device), modelObject(file)).size();
}

std::string memberText(const std::optional<nlohmann::json>& value) { return value ? value->dump() : "(absent)"; }

}  // namespace kinetra::cli
