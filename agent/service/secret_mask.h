// Masking of secrets (tokens, passwords, seeds) in log lines.
#ifndef HBR_AGENT_SECRET_MASK_H
#define HBR_AGENT_SECRET_MASK_H

#include <cstddef>
#include <string>

// The first 4 characters + "***" when the value is longer than 8
// characters, else "***"; an empty value stays empty.
std::string MaskSecret(const std::string &value);

// An APN command "AT+GTPCTPOC=<4|5>,\"apn\",f,p1,p2,auth,\"user\",\"pass\"..."
// with its password field masked; any other text is returned unchanged.
// `length` bytes of `text` are read (it need not be NUL-terminated).
std::string MaskApnCommand(const char *text, size_t length);

// A packed APN text "apn,ip_type,auth,user,password,apn_type" with its
// password field (between the 4th and 5th comma) masked; a text with fewer
// commas has no password field and is returned unchanged.
std::string MaskApnText(const std::string &text);

// `text` with everything after the first `marker` masked as one value
// ("...&key=<token>").
std::string MaskAfterMarker(const std::string &text, const char *marker);

// A JSON text with the value of every "token" string member masked, and
// the password field of every "apn" string member (keys in any case). All
// other bytes stay as they are; the text need not be valid JSON.
std::string MaskJsonSecrets(const std::string &text);

#endif
