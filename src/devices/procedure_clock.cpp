#include <kinetra/procedure_clock.h>

#include <thread>

namespace kinetra {
namespace {

class SystemProcedureClock final : public ProcedureClock {
public:
    clock::time_point now() override { return clock::now(); }
    void sleepFor(clock::duration duration) override { std::this_thread::sleep_for(duration); }
};

}  // namespace

ProcedureClock& systemProcedureClock() {
    static SystemProcedureClock instance;
    return instance;
}

}  // namespace kinetra
