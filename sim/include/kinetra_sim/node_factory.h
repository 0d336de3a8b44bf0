#pragma once
/// @file node_factory.h
/// Builds the node model of a setup's kind.

#include "kinetra_sim/node.h"
#include "kinetra_sim/setups.h"

#include <memory>

namespace kinetra::sim {

/// A new node of `setup.kind` with `setup`'s factory settings.
std::unique_ptr<Node> makeNode(const NodeSetup& setup);

}  // namespace kinetra::sim
