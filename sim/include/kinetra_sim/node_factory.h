#pragma once
/// @file node_factory.h
/// Builds the node model of a spec's kind.

#include "kinetra_sim/node.h"
#include "kinetra_sim/specs.h"

#include <memory>

namespace kinetra::sim {

/// A new node of `spec.kind` with `spec`'s factory settings.
std::unique_ptr<Node> makeNode(const NodeSpec& spec);

}  // namespace kinetra::sim
