#include "serial/line_buffer.h"

#include <algorithm>
#include <cstring>

namespace kinetra {

std::size_t LineBuffer::findLine(std::size_t limit, const std::string& eol, std::size_t& scanned) const {
    const std::size_t window = std::min(size(), limit);
    if (!eol.empty() && window >= eol.size()) {
        // A terminator may straddle the bytes already searched and the new ones.
        const std::size_t overlap = eol.size() - 1;
        const std::size_t from = std::min(scanned > overlap ? scanned - overlap : 0, window);
        const char* begin = storage_.data() + head_;
        const char* end = begin + window;
        const char* found = eol.size() == 1
                                ? static_cast<const char*>(std::memchr(begin + from, eol[0], window - from))
                                : std::search(begin + from, end, eol.begin(), eol.end());
        if (found != nullptr && found != end) return static_cast<std::size_t>(found - begin) + eol.size();
    }
    scanned = window;
    return window == limit ? limit : 0;
}

void LineBuffer::take(std::size_t count, std::string& out) {
    count = std::min(count, size());
    out.append(storage_.data() + head_, count);
    head_ += count;
    if (head_ == tail_) head_ = tail_ = 0;
}

char* LineBuffer::prepare(std::size_t count) {
    if (storage_.size() - tail_ < count) {
        // Move the unfinished line to the front: it is short, the copy is cheap.
        if (head_ > 0) {
            std::memmove(storage_.data(), storage_.data() + head_, size());
            tail_ -= head_;
            head_ = 0;
        }
        if (storage_.size() - tail_ < count) storage_.resize(tail_ + count);
    }
    return storage_.data() + tail_;
}

void LineBuffer::commit(std::size_t count) { tail_ = std::min(tail_ + count, storage_.size()); }

void LineBuffer::clear() { head_ = tail_ = 0; }

}  // namespace kinetra
