#pragma once
/// @file sim_program.h
/// The kinetra-sim program as a function, so that other programs can offer it.

namespace kinetra::sim {

/// Runs kinetra-sim with the given arguments (argv[0] is the program name) until
/// SIGINT or SIGTERM; returns the exit code (0 ok, 1 failure, 2 bad arguments).
/// Blocks SIGINT and SIGTERM in the calling thread and reads them itself, so call
/// it before any other thread starts.
int runSimulatorProgram(int argc, char** argv);

}  // namespace kinetra::sim
