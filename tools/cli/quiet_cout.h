#pragma once
// The library prints some procedures' lines on standard output (the imported
// document, the calibration's measurements); the tool reports the same facts
// itself, so it silences std::cout around those calls. Main thread only: the
// library's own threads do not write to std::cout.

#include <iostream>
#include <streambuf>

namespace kinetra::cli {

class QuietCout {
public:
    QuietCout() : saved_(std::cout.rdbuf(&sink_)) {}
    ~QuietCout() { std::cout.rdbuf(saved_); }
    QuietCout(const QuietCout&) = delete;
    QuietCout& operator=(const QuietCout&) = delete;

private:
    /// Takes every character and keeps none.
    class Sink : public std::streambuf {
    protected:
        int_type overflow(int_type c) override { return traits_type::not_eof(c); }
        std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
    };
    Sink sink_;
    std::streambuf* saved_;
};

}  // namespace kinetra::cli
