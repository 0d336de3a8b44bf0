#include "serial/wakeup_event.h"

#include <cerrno>
#include <cstdint>
#include <system_error>

#include <sys/eventfd.h>
#include <unistd.h>

namespace kinetra {

WakeupEvent::WakeupEvent() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

WakeupEvent::~WakeupEvent() { ::close(fd_); }

void WakeupEvent::signal() noexcept {
    const uint64_t one = 1;
    // Can only fail when the counter is about to overflow, i.e. already signalled.
    [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
}

void WakeupEvent::reset() noexcept {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd_, &count, sizeof count);
}

}  // namespace kinetra
