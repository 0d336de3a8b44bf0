#pragma once
// The receive buffer behind Serial::readline(). The port is read in chunks of
// whatever has arrived (one system call for many bytes), and lines are handed
// out from here; bytes after a line stay for the next call.

#include <cstddef>
#include <string>
#include <vector>

namespace kinetra {

class LineBuffer {
public:
    /// Bytes held and not yet handed out.
    std::size_t size() const { return tail_ - head_; }
    /// Whether nothing is held.
    bool empty() const { return head_ == tail_; }

    /// Length of the first line held: up to and including the first `eol` that
    /// ends within `limit` bytes, else `limit` when that many bytes are held, else
    /// 0 (no complete line yet). An empty `eol` means lines end only at `limit`.
    /// `scanned` carries how many leading bytes earlier calls already searched, so
    /// a line arriving in many chunks is searched once; start it at 0 per line.
    std::size_t findLine(std::size_t limit, const std::string& eol, std::size_t& scanned) const;

    /// Appends the first `count` bytes (at most size()) to `out` and drops them.
    void take(std::size_t count, std::string& out);

    /// Space for `count` more bytes at the end; fill it, then commit() how many.
    char* prepare(std::size_t count);
    /// Makes `count` bytes written into prepare()'s space part of the buffer.
    void commit(std::size_t count);

    /// Drops everything held.
    void clear();

private:
    std::vector<char> storage_;
    std::size_t head_ = 0;  // first byte held
    std::size_t tail_ = 0;  // one past the last byte held
};

}  // namespace kinetra
