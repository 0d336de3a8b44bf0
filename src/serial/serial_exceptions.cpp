// The three exception classes of the serial layer. Each builds its text once, in
// the constructor, so what() never allocates and never fails.

#include <kinetra/serial/serial.h>

#include <system_error>
#include <utility>

namespace serial {

SerialException::SerialException(const char* description)
    : what_(std::string("SerialException ") + description + " failed.") {}

const char* SerialException::what() const noexcept { return what_.c_str(); }

PortNotOpenedException::PortNotOpenedException(const char* description)
    : what_(std::string("PortNotOpenedException ") + description + " failed.") {}

const char* PortNotOpenedException::what() const noexcept { return what_.c_str(); }

IOException::IOException(std::string file, int line, int errnum)
    : IOException(std::move(file), line,
                  std::generic_category().message(errnum) + ": " + std::to_string(errnum), errnum) {}

IOException::IOException(std::string file, int line, const char* description)
    : IOException(std::move(file), line, std::string(description), 0) {}

IOException::IOException(std::string file, int line, std::string description, int errnum)
    : file_(std::move(file)), line_(line), errno_(errnum) {
    what_ = "IO Exception: " + description + ", file " + file_ + ", line " + std::to_string(line_) + ".";
}

const char* IOException::what() const noexcept { return what_.c_str(); }

}  // namespace serial
