#pragma once
// The library's user-facing lines (an open failure's account with the place in
// the library's sources, the imported document, the calibration's
// measurements) reach the tool through the library's message sink. The tool
// reports the same facts itself, so it drops them while a QuietMessages lives;
// otherwise they go to standard output, or to standard error in JSON mode so
// that the document stays parseable.

namespace kinetra::cli {

/// Installs the tool's message sink: standard error when `json`, else standard
/// output. Removed again by removeMessageSink().
void installMessageSink(bool json);
/// Restores the library's default sink.
void removeMessageSink();

/// Drops the library's lines for its lifetime (nestable, any thread).
class QuietMessages {
public:
    QuietMessages();
    ~QuietMessages();
    QuietMessages(const QuietMessages&) = delete;
    QuietMessages& operator=(const QuietMessages&) = delete;
};

}  // namespace kinetra::cli
