#pragma once
// Where the tool writes: aligned tables and coloured headings for people on a
// terminal, one JSON document for scripts, errors on standard error.

#include <nlohmann/json.hpp>

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace kinetra::cli {

/// Rows of cells printed with aligned columns.
struct Table {
    std::vector<std::string> headers;
    std::vector<std::vector<std::string>> rows;
};

/// Renders a table: columns padded to their widest cell, two spaces apart,
/// trailing spaces cut. `bold_headers` wraps the header line in ANSI bold.
std::string renderTable(const Table& table, bool bold_headers);

class Output {
public:
    /// Takes the library's messages for the lifetime of this object: to standard
    /// error in JSON mode, so that the document stays parseable.
    explicit Output(bool json);
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    bool json() const { return json_; }
    /// Whether standard output is a terminal (the live views redraw in place then).
    bool terminal() const { return terminal_; }
    /// Whether colour may be used on standard output.
    bool colour() const { return colour_; }

    /// The real standard output.
    std::ostream& out();
    void table(const Table& table);
    /// Writes one JSON document (indented) and a line end.
    void document(const nlohmann::json& document);
    /// Writes one JSON document on one line (for streams of documents).
    void jsonLine(const nlohmann::json& document);
    /// A "label: value" line for people.
    void field(const std::string& label, const std::string& value);
    /// A heading line, bold on a terminal.
    void heading(const std::string& text);

    /// One error line on standard error: "kinetra: <message>", red on a terminal.
    static void error(const std::string& message);

private:
    bool json_;
    bool terminal_;
    bool colour_;
    std::unique_ptr<std::ostream> out_;
};

/// Formats a number with `decimals` digits after the point.
std::string fixed(double value, int decimals);

}  // namespace kinetra::cli
