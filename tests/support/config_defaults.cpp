#include "config_defaults.h"

#include <initializer_list>

#include "lpa_host.h"
#include "lpa_httpmedia.h"
#include "lpa_manager_config.h"

namespace hbr_test {

void RestoreConfigDefaults()
{
    if (_httpMedia != nullptr) {
        httpMediaManagerDelete();
    }
    httpMediaOptionValues = httpMediaOptionDefaults;

    // The stores themselves, so that restricted keys are reached too. An
    // empty DeviceInfo TLV does not convert: the store is cleared.
    const bool on = true;
    for (const char *key : {"sendPIRDuringDownloadProfile", "addLeToApduCase4", "profileRefreshFlag"}) {
        _lpaManagerSetBooleanParameterValue(_lpaManagerFindConfigParameter(key), &on);
    }
    for (const char *key : {"readerName", "certPath", "deviceInfoTlv"}) {
        _lpaManagerSetStringParameterValue(_lpaManagerFindConfigParameter(key), "");
    }
}

}  // namespace hbr_test
