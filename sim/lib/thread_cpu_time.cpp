#include "thread_cpu_time.h"

#include <pthread.h>
#include <time.h>

namespace kinetra::sim {

std::chrono::nanoseconds threadCpuTime(std::thread& thread) {
    if (!thread.joinable()) return std::chrono::nanoseconds(0);
    clockid_t clock;
    timespec used{};
    if (pthread_getcpuclockid(thread.native_handle(), &clock) != 0 || clock_gettime(clock, &used) != 0) {
        return std::chrono::nanoseconds(0);
    }
    return std::chrono::seconds(used.tv_sec) + std::chrono::nanoseconds(used.tv_nsec);
}

}  // namespace kinetra::sim
