#include "se_media_defaults.h"

#include "se_media_manager.h"
#include "semedia_genericmodem.h"
#include "sim_seam.h"

namespace hbr_test {

void RestoreSeMediaDefaults()
{
    if (_seMedia != nullptr) {
        seMediaManagerUninitialize();
    }
    seMediaIsdrSelected = false;
    _seMediaGenericModemPseudoPort = 0;
    _seMediaGenericModemCallback = nullptr;
    hbrsim::seam::reset();
}

}  // namespace hbr_test
