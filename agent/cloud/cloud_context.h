// The cloud work record of one flow attempt, its APN entries, and the
// agent's error codes.
#ifndef HBR_AGENT_CLOUD_CONTEXT_H
#define HBR_AGENT_CLOUD_CONTEXT_H

#include <cstdint>
#include <string>

// One APN entry of the bootstrap reply.
struct IotServiceFlowRecord {
    static const int kIccidSlots = 5;

    std::string apn_type;            // "1" attached, "2" internet, "3" both
    std::string verification_method; // "PAP", "CHAP" (any case)
    std::string ip_type;             // "IPV4", "IPV6", "IPV4V6" (any case)
    std::string apn;
    std::string username;
    std::string password;
    std::string iccid[kIccidSlots]; // ICCID prefixes; empty = free slot
    std::string apn_text;           // the packed "apn" text of the reply
};

// The cloud work record of one attempt ("bs_global_ver->zfw_in_use_server_info"
// in the log texts). Fresh per attempt; copying copies every field.
struct IotServiceFlowContext {
    static const int kApnCount = 4;

    IotServiceFlowRecord apns[kApnCount];
    std::string serviceUrl; // operation-code request target
    std::string pecUrl;     // status sync target
    std::string token;      // HMAC key of the signed requests
    int32_t operation = -1;
    int32_t simMode = -1;
    int32_t errorCode = 0;
    std::string activeCode; // the activation code
    int32_t done = 0;       // 1 once the latest reply was accepted
};

// Agent error codes; the log name of each is its enumerator.
enum HbrAgentErrorCode : int32_t {
    ZFW_PCIOT_HBR_NON_UNIQUE_RESULT_ERROR = -1,
    ZFW_PCIOT_HBR_ILLEGAL_ACTIVATION_ERROR = 1,
    ZFW_PCIOT_HBR_EMPTY_EID_ERROR = 801,
    ZFW_PCIOT_HBR_GET_IMEI_FAIL = 1002,
    ZFW_PCIOT_HBR_GET_ICCID_FAIL = 1003,
    ZFW_PCIOT_HBR_GET_ICCID_LIST_FAIL = 1004,
    ZFW_PCIOT_HBR_DOWNLOAD_DISABLE_DELETE_FAIL = 1005,
    ZFW_PCIOT_HBR_UNKNOWN_CERT_FAIL = 1006,
    ZFW_PCIOT_HBR_SIM_SWITCH_FAIL = 1007,
    ZFW_PCIOT_HBR_HTTP_ERROR = 1008,
    ZFW_PCIOT_HBR_ERROR_CODE_PROFILE_EXHAUSTED_ERROR = 14451,
    ZFW_PCIOT_HBR_LIMITTED_RETRY_COUNT_ERROR = 14459,
};

#endif
