#pragma once
// Answers typed on standard input while a procedure runs (a flash asks before it
// stops), read with a bounded wait.

#include <chrono>

namespace kinetra::cli {

/// readInputChar(): nothing came within the wait.
constexpr int kNoInput = -1;
/// readInputChar(): standard input has ended (or cannot be read).
constexpr int kEndOfInput = -2;

/// Whether standard input is a terminal a question can be answered on.
bool answerableInput();
/// Waits at most `wait` for one character on standard input; returns it, or
/// kNoInput or kEndOfInput.
int readInputChar(std::chrono::milliseconds wait);

}  // namespace kinetra::cli
