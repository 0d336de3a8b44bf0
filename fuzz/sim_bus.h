#pragma once
// A simulated bus for the fuzz targets, built anew only every so many inputs: a
// motor controller's model holds its whole flash, which is costly to build and
// free under the sanitizers for each input, while a node that an input left
// rebooting or at another bit rate must not keep later inputs from reaching it.

#include "kinetra_sim/node_factory.h"
#include "kinetra_sim/virtual_bus.h"

#include <cstddef>
#include <memory>
#include <vector>

namespace kinetra::fuzz {

class SimBus {
public:
    explicit SimBus(std::vector<sim::NodeSetup> nodes) : nodes_(std::move(nodes)) {}

    /// The bus for the next input.
    sim::VirtualBus& next() {
        if (!bus_ || ++inputs_ % kInputsPerBus == 0) {
            bus_ = std::make_unique<sim::VirtualBus>();
            for (const auto& setup : nodes_) bus_->addNode(sim::makeNode(setup));
        }
        return *bus_;
    }

private:
    static constexpr std::size_t kInputsPerBus = 200;
    const std::vector<sim::NodeSetup> nodes_;
    std::unique_ptr<sim::VirtualBus> bus_;
    std::size_t inputs_ = 0;
};

}  // namespace kinetra::fuzz
