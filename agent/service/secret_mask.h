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

#endif
