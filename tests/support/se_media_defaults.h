// Puts the SE media and the simulated module back to their start state.
#ifndef HBR_SE_MEDIA_DEFAULTS_H
#define HBR_SE_MEDIA_DEFAULTS_H

namespace hbr_test {

// Deletes an SE media left in _seMedia, clears the ISD-R-selected flag, the
// driver's pseudo port and its registered callback, and gives the seam a
// fresh simulated module (new state, no faults, no records, platform
// type 1, empty AT response buffer).
void RestoreSeMediaDefaults();

}  // namespace hbr_test

#endif  // HBR_SE_MEDIA_DEFAULTS_H
