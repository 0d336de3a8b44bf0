// kinetra-sim: the simulated bus as a program of its own.

#include "kinetra_sim/sim_program.h"

int main(int argc, char** argv) { return kinetra::sim::runSimulatorProgram(argc, argv); }
