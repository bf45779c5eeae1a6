// Fixture of the SE media and generic-modem driver tests: the engine
// fixture, an SE media in _seMedia, the simulated module behind the seam,
// and the allocator's live blocks checked back at their start value.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "lpa_core_memory_internal.h"
#include "lpa_error_internal.h"
#include "lpa_host.h"
#include "lpa_manager_config.h"
#include "raw_data_object.h"
#include "se_media_manager.h"
#include "semedia_genericmodem.h"
#include "sim_seam.h"

extern "C" char read_mipc_buf[16385];

class SeMediaFixture : public hbr_test::EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        liveBlocks_ = lpaCoreMemoryTestCounters().liveBlocks;
        ASSERT_TRUE(seMediaManagerInitialize(New_SEMediaGenericModem, Delete_SEMediaGenericModem));
    }

    void TearDown() override
    {
        if (_seMedia != nullptr && _seMedia->seMediaTransmitApdu == _seMediaGenericModemTransmitApdu) {
            hbrsim::seam::module().faults().clear();
            _lpaManagerUnselectISDRAndDisconnectReader();
            seMediaManagerUninitialize();
        }
        EXPECT_EQ(liveBlocks_, lpaCoreMemoryTestCounters().liveBlocks) << "engine blocks left behind";
        EngineFixture::TearDown();
    }

    static hbrsim::Module &sim() { return hbrsim::seam::module(); }

    static TSEMediaGenericModem *modem() { return static_cast<TSEMediaGenericModem *>(_seMedia->privateRecord); }

    // The AT commands the module received, in order.
    static std::vector<std::string> commands() { return sim().records().atCommands(); }

    // True when lpa.log holds the message at the level ("DEB", "INF", "WAR", "ERR").
    bool logHas(const char *level, const std::string &message) const { return logCount(level, message) > 0; }

    size_t logCount(const char *level, const std::string &message) const
    {
        size_t n = 0;
        for (const std::string &line : LogLines()) {
            if (line.size() > 25 && line.compare(22, 3, level) == 0 && hbr_test::LogMessage(line) == message) ++n;
        }
        return n;
    }

    // Sends an ES10 request through STORE DATA; answers the result.
    static bool storeData(const hbrsim::Bytes &request, uint16_t *sw, uint8_t *data, size_t capacity, size_t *length)
    {
        RawDataObject *object = rawDataObject_create(request.data(), request.size());
        bool ok = buildAndSendStoreDataCase4(object, sw, data, capacity, length);
        rawDataObject_free(object);
        return ok;
    }

    static void setAddLe(bool on)
    {
        ASSERT_TRUE(_lpaManagerSetBooleanParameterValue(_lpaManagerFindConfigParameter("addLeToApduCase4"), &on));
    }

    uint32_t liveBlocks_ = 0;
};
