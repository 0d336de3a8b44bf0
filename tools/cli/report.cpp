#include "cli/report.h"

#include <algorithm>

namespace kinetra::cli {

Report& Report::add(const std::string& key, const std::string& label, const std::string& text,
                    nlohmann::json value) {
    lines_.push_back({label, text});
    json_[key] = std::move(value);
    return *this;
}

Report& Report::jsonOnly(const std::string& key, nlohmann::json value) {
    json_[key] = std::move(value);
    return *this;
}

Report& Report::number(const std::string& key, const std::string& label, double value, int decimals,
                       const std::string& unit) {
    return add(key, label, fixed(value, decimals) + (unit.empty() ? "" : " " + unit), value);
}

std::vector<std::string> Report::lines() const {
    std::size_t width = 0;
    for (const Line& line : lines_) width = std::max(width, line.label.size());
    std::vector<std::string> text;
    for (const Line& line : lines_) {
        text.push_back(line.label + ":" + std::string(width - line.label.size() + 1, ' ') + line.text);
    }
    return text;
}

void Report::print(Output& out) const {
    if (out.json()) {
        out.document(json_);
        return;
    }
    for (const std::string& line : lines()) out.out() << line << "\n";
    out.out().flush();
}

}  // namespace kinetra::cli
