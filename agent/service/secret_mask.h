// Masking of secrets (tokens, passwords, seeds) in log lines.
#ifndef HBR_AGENT_SECRET_MASK_H
#define HBR_AGENT_SECRET_MASK_H

#include <cstddef>
#include <string>
#include <vector>

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
// the password field of every "apn" string member (keys in any case, read
// after their escapes are decoded, as a JSON parser reads them; an "apn"
// value written with escapes is masked whole). A "token" or "apn" value that
// the text breaks off in (no closing quote) is masked whole from its opening
// quote to the end. All other bytes stay as they are; the text need not be
// valid JSON.
std::string MaskJsonSecrets(const std::string &text);

// The cut-value rule of MaskJsonSecrets alone: a "token" or "apn" value
// without its closing quote is masked to the end; whole values stay.
std::string MaskCutJsonSecrets(const std::string &text);

// `text` with every occurrence of each secret replaced by its masked form
// (MaskSecret), except an occurrence that is part of a longer run of
// letters and digits (a password "1234" leaves ICCIDs and hex alone).
// Empty secrets are ignored; overlapping occurrences are all masked.
std::string MaskSecretValues(const std::string &text, const std::vector<std::string> &secrets);

// The secret values learnt in the running flow (the signing token, the APN
// passwords, the bootstrap key, the seed). The service log masks them by
// value wherever they appear (MaskSecretValues). Safe from any thread.
void RememberSecret(const std::string &value);
void ForgetSecrets();
std::string MaskRememberedSecrets(const std::string &text);

// Forgets the remembered secrets when it goes out of scope: a flow holds
// one for its whole run, so what it learnt stays masked until it ends.
class RememberedSecretsScope {
public:
    RememberedSecretsScope() = default;
    ~RememberedSecretsScope() { ForgetSecrets(); }
    RememberedSecretsScope(const RememberedSecretsScope &) = delete;
    RememberedSecretsScope &operator=(const RememberedSecretsScope &) = delete;
};

#endif
