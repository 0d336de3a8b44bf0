#pragma once
// A list of named values printed as "label: value" lines for people or as one
// JSON object for scripts.

#include "cli/output.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace kinetra::cli {

class Report {
public:
    /// Adds one value: `key` in JSON, `label` and `text` for people.
    Report& add(const std::string& key, const std::string& label, const std::string& text, nlohmann::json value);
    /// Adds a member to the JSON document only (a name beside a number shown on one line).
    Report& jsonOnly(const std::string& key, nlohmann::json value);
    /// Adds a number shown with `decimals` digits and `unit` (may be empty).
    Report& number(const std::string& key, const std::string& label, double value, int decimals,
                   const std::string& unit);

    const nlohmann::json& json() const { return json_; }
    /// The lines for people, labels padded to one width.
    std::vector<std::string> lines() const;
    /// Prints the report in the output's mode.
    void print(Output& out) const;

private:
    struct Line {
        std::string label;
        std::string text;
    };
    std::vector<Line> lines_;
    nlohmann::json json_ = nlohmann::json::object();
};

}  // namespace kinetra::cli
