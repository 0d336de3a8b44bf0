#pragma once
// The off-axis calibration of an encoder's sensor chip, run from a page: its
// progress and each measurement's error go to the pages as it runs.

#include <nlohmann/json.hpp>

#include <functional>

class Vorlex;

namespace kinetra::sim {
class Simulator;
}

namespace kinetra::dashboard {

/// Runs the calibration of `encoder` (node `node`) at `speed` deg/s, blocking
/// for the whole run. On the in-process simulator `sim`, when not null, the
/// simulated shaft is turned meanwhile. `publish` gets the progress messages;
/// the result is the reply's content ("error" when it did not calibrate).
nlohmann::json runCalibration(Vorlex& encoder, unsigned node, double speed, kinetra::sim::Simulator* sim,
                              const std::function<void(const nlohmann::json&)>& publish);

}  // namespace kinetra::dashboard
