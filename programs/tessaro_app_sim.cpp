// Tessaro_App_sim: the whole front panel program with the simulated hand
// controller behind the simulated bridge, in real time at the real line speed.
#include "panel/tessaro_app_app.h"
#include "sim/simulated_setup.h"

int main(int argc, char** argv) {
  SimulatedSetup sim(/*realTime=*/true);
  return RunTessaroApp(argc, argv, sim.bridge, sim.platform);
}
