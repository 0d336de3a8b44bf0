#include "cli/terminal_input.h"

#include <poll.h>
#include <unistd.h>

namespace kinetra::cli {

bool answerableInput() { return ::isatty(STDIN_FILENO) == 1; }

int readInputChar(std::chrono::milliseconds wait) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (::poll(&input, 1, static_cast<int>(wait.count())) <= 0) return kNoInput;
    unsigned char c = 0;
    return ::read(STDIN_FILENO, &c, 1) == 1 ? c : kEndOfInput;
}

}  // namespace kinetra::cli
