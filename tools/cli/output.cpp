#include "cli/output.h"
#include "cli/quiet_messages.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace kinetra::cli {

namespace {
const char* const kBold = "\x1b[1m";
const char* const kRed = "\x1b[31m";
const char* const kReset = "\x1b[0m";

bool colourWanted(int fd) {
    const char* term = std::getenv("TERM");
    return ::isatty(fd) == 1 && std::getenv("NO_COLOR") == nullptr && term != nullptr &&
           std::string(term) != "dumb";
}

std::string rightTrimmed(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}
}  // namespace

std::string renderTable(const Table& table, bool bold_headers) {
    std::vector<std::size_t> widths(table.headers.size(), 0);
    auto widen = [&](const std::vector<std::string>& row) {
        if (row.size() > widths.size()) widths.resize(row.size(), 0);
        for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    };
    widen(table.headers);
    for (const auto& row : table.rows) widen(row);
    auto line = [&](const std::vector<std::string>& row) {
        std::string text;
        for (std::size_t i = 0; i < row.size(); ++i) {
            text += row[i];
            if (i + 1 < row.size()) text += std::string(widths[i] - row[i].size() + 2, ' ');
        }
        return rightTrimmed(text);
    };
    std::string text;
    if (!table.headers.empty()) {
        text += bold_headers ? kBold + line(table.headers) + kReset : line(table.headers);
        text += '\n';
    }
    for (const auto& row : table.rows) text += line(row) + '\n';
    return text;
}

Output::Output(bool json)
    : json_(json), terminal_(::isatty(STDOUT_FILENO) == 1), colour_(colourWanted(STDOUT_FILENO)) {
    out_ = std::make_unique<std::ostream>(std::cout.rdbuf());
    installMessageSink(json_);
}

Output::~Output() {
    out_->flush();
    removeMessageSink();
}

std::ostream& Output::out() { return *out_; }

void Output::table(const Table& table) { *out_ << renderTable(table, colour_) << std::flush; }

void Output::document(const nlohmann::json& document) { *out_ << document.dump(2) << "\n" << std::flush; }

void Output::jsonLine(const nlohmann::json& document) { *out_ << document.dump() << "\n" << std::flush; }

void Output::field(const std::string& label, const std::string& value) {
    std::string padded = label + ":";
    if (padded.size() < 14) padded.resize(14, ' ');
    *out_ << padded << " " << value << "\n";
}

void Output::heading(const std::string& text) {
    if (colour_) {
        *out_ << kBold << text << kReset << "\n";
    } else {
        *out_ << text << "\n";
    }
}

void Output::error(const std::string& message) {
    std::cout.flush();
    if (colourWanted(STDERR_FILENO)) {
        std::cerr << kRed << "kinetra: " << message << kReset << std::endl;
    } else {
        std::cerr << "kinetra: " << message << std::endl;
    }
}

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace kinetra::cli
