#include "dashboard/calibration_run.h"

#include "calibration/offaxis_math.h"
#include "cli/progress_text.h"
#include "cli/quiet_messages.h"
#include "kinetra_sim/encoder_node.h"
#include "kinetra_sim/simulator.h"

#include <kinetra/vorlex.h>

#include <chrono>

namespace kinetra::dashboard {

namespace {

using nlohmann::json;

/// How often sample progress goes to the pages.
constexpr std::chrono::milliseconds kProgressPeriod{100};

/// Turns the in-process simulator's encoder shaft for as long as it lives.
class TurnedShaft {
public:
    TurnedShaft(kinetra::sim::Simulator* sim, unsigned node, double speed) {
        if (sim == nullptr) return;
        encoder_ = dynamic_cast<kinetra::sim::EncoderNode*>(&sim->node(node));
        if (encoder_ != nullptr) encoder_->setShaftRate(speed);
    }
    ~TurnedShaft() {
        if (encoder_ != nullptr) encoder_->setShaftRate(0.0);
    }
    TurnedShaft(const TurnedShaft&) = delete;
    TurnedShaft& operator=(const TurnedShaft&) = delete;

private:
    kinetra::sim::EncoderNode* encoder_ = nullptr;
};

}  // namespace

json runCalibration(Vorlex& encoder, unsigned node, double speed, kinetra::sim::Simulator* sim,
                    const std::function<void(const json&)>& publish) {
    TurnedShaft shaft(sim, node, speed);
    OffAxisCalibrationOptions options;
    auto last = std::chrono::steady_clock::now() - kProgressPeriod;
    options.progress = [&](OffAxisStage stage, unsigned sample) {
        if (sample != 0 && std::chrono::steady_clock::now() - last < kProgressPeriod) return;
        last = std::chrono::steady_clock::now();
        publish({{"type", "calibration"}, {"node", node}, {"stage", cli::calibrationStageName(stage)},
                 {"sample", sample}});
    };
    options.samples = [&](const OffAxisSamples& taken) {
        if (taken.measured.empty() || taken.measured.size() != taken.expected.size()) return;
        const auto metric = kinetra::calibration::errorMetric(taken.measured, taken.expected);
        publish({{"type", "calibration"},
                 {"node", node},
                 {"measurement", taken.measurement},
                 {"error", metric.half_peak_to_peak},
                 {"sd", metric.standard_deviation},
                 {"angle", taken.expected},
                 {"deviation", metric.centred}});
    };
    OffAxisCalibrationResult result;
    {
        cli::QuietMessages quiet;  // the run prints its own lines
        result = encoder.runMAxxxOffAxisCalibration(static_cast<float>(speed), options);
    }
    json errors = json::array();
    for (int i = 0; i < result.measurements && i < static_cast<int>(result.errors.size()); ++i) {
        errors.push_back({{"error", result.errors[i].half_peak_to_peak}, {"sd", result.errors[i].standard_deviation}});
    }
    json reply = {{"node", node}, {"measurements", errors}, {"calibrated", result.calibrated}};
    if (!result.calibrated) reply["error"] = result.reason.empty() ? std::string("not calibrated") : result.reason;
    return reply;
}

}  // namespace kinetra::dashboard
