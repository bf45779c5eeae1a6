// Fuzz entry points of the engine's ES9+/ES11 client and configuration
// file: the input is the server's answer (served through an HTTP media
// record that answers 200 without a network) or lines of lpa_config.ini.
#include <string.h>

#include <cjson/cJSON.h>

#include "config_defaults.h"
#include "es10b.h"
#include "es9plus_client.h"
#include "fuzz_input.h"
#include "lpa_download.h"
#include "lpa_httpmedia.h"
#include "lpa_manager_config.h"

using hbr_fuzz::Text;

namespace {

std::string g_answer;

bool Init(THTTPMedia *) { return true; }
bool Post(THTTPMedia *, const char *, const char *, const char *, int32_t *httpCode)
{
    *httpCode = 200;
    return true;
}
void Cleanup(THTTPMedia *) {}
char *Buffer(THTTPMedia *) { return &g_answer[0]; }
bool SetBool(THTTPMedia *, HttpMediaOptionType, bool) { return true; }
bool GetBool(THTTPMedia *, HttpMediaOptionType, bool *value)
{
    *value = true;
    return true;
}
bool SetLong(THTTPMedia *, HttpMediaOptionType, int32_t) { return true; }
bool GetLong(THTTPMedia *, HttpMediaOptionType, int32_t *value)
{
    *value = 60;
    return true;
}
bool SetCallback(THTTPMedia *, LpaEventExecutionErrorCallback) { return true; }

THTTPMedia g_media = {nullptr, Init, Post, Cleanup, Buffer, SetBool, GetBool, SetLong, GetLong, SetCallback};

const char kAddress[] = "testsmdpplus1.example.com";
const char kTransactionId[] = "0102030405060708090A0B0C0D0E0F10";
const char kBase64[] = "vzgDAgEA";

// Installs the answer.
void Serve(const uint8_t *data, size_t size)
{
    g_answer = Text(data, size);
    _httpMedia = &g_media;
}

// One request over fresh server data, freed afterwards.
template <typename Request>
void WithServerData(const uint8_t *data, size_t size, Request request)
{
    Serve(data, size);
    TServerData server;
    memset(&server, 0, sizeof(server));
    request(&server);
    freeDownloadServerData(&server);
}

[[maybe_unused]] void FuzzInitiateAuthentication(const uint8_t *data, size_t size)
{
    WithServerData(data, size, [](TServerData *server) {
        lpaManagerES9Plus_InitiateAuthentication(server, nullptr, kBase64, kBase64, kAddress);
    });
}

[[maybe_unused]] void FuzzAuthenticateClient(const uint8_t *data, size_t size)
{
    WithServerData(data, size, [](TServerData *server) {
        lpaManagerAuthenticateClient(server, nullptr, kTransactionId, kAddress, kBase64);
    });
}

[[maybe_unused]] void FuzzGetBoundProfilePackage(const uint8_t *data, size_t size)
{
    WithServerData(data, size, [](TServerData *server) {
        lpaManagerGetBoundProfilePackage(server, nullptr, kTransactionId, kAddress, kBase64);
    });
}

// The answers that carry no data: the status check, handleNotification
// and cancelSession.
[[maybe_unused]] void FuzzStatusAnswer(const uint8_t *data, size_t size)
{
    Serve(data, size);
    cJSON *answer = cJSON_Parse(g_answer.c_str());
    if (answer != nullptr) {
        _checkJSONresponseStatusSuccessful(answer, nullptr);
        cJSON_Delete(answer);
    }
    handleNotification(kAddress, strlen(kAddress), kBase64, nullptr);
    TCancelSessionResponse response;
    memset(&response, 0, sizeof(response));
    response.ok = 1;
    response.length = 3;
    _lpaManagerES9SendCancelSession(kTransactionId, &response, kAddress, nullptr);
}

[[maybe_unused]] void FuzzEventRetrieval(const uint8_t *data, size_t size)
{
    Serve(data, size);
    static SmdsEventList events;
    memset(&events, 0, sizeof(events));
    lpaManagerEventRetrieval(kTransactionId, nullptr, "testsmds.example.com", kBase64, &events);
}

[[maybe_unused]] void FuzzConfigLines(const uint8_t *data, size_t size)
{
    std::string text = Text(data, size);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        _configFileHandleLine(&line[0]);
        start = end + 1;
    }
    hbr_test::RestoreConfigDefaults();
}

}  // namespace

HBR_FUZZ_DEFINE_ENTRY()
