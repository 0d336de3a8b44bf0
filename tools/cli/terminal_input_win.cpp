// On Windows a console delivers keys as console events rather than a byte
// stream that can be waited on; the tool asks for a second Ctrl-C there instead
// of a typed answer.

#include "cli/terminal_input.h"

namespace kinetra::cli {

bool answerableInput() { return false; }

int readInputChar(std::chrono::milliseconds /*wait*/) { return kEndOfInput; }

}  // namespace kinetra::cli
