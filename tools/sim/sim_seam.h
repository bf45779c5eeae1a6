// Control of the in-process AT transport seam (object library
// hbrsim_lpa_seam): the four C symbols the engine's generic-modem driver
// links against, served by one process-wide simulated module.
#ifndef HBRSIM_SIM_SEAM_H
#define HBRSIM_SIM_SEAM_H

#include "sim_module.h"
#include "sim_seed.h"

#include <cstdint>

namespace hbrsim {
namespace seam {

// The process-wide module behind the seam.
Module &module();

// A fresh simulator: new module state (the default seed), faults and
// records cleared, platform type 1, the AT response buffer cleared.
void reset();
// The same with a seed.
void reset(const Seed &seed);

// CPU time (this thread's clock) spent in the simulator's writers so far.
uint64_t cpuNanos();

// The value quorpciot_lpa_plat_type answers.
void setPlatformType(int32_t type);
int32_t platformType();

}  // namespace seam
}  // namespace hbrsim

#endif
