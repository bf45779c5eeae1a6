// Putting back the configuration and HTTP media state that tests change:
// the five HTTP option values, the engine values (reader name, CA path,
// DeviceInfo TLV) and booleans, and the HTTP media record (deleted).
// Called by RestoreEngineDefaults with the log closed.
#ifndef HBR_CONFIG_DEFAULTS_H
#define HBR_CONFIG_DEFAULTS_H

namespace hbr_test {

void RestoreConfigDefaults();

}  // namespace hbr_test

#endif  // HBR_CONFIG_DEFAULTS_H
