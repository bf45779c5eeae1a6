// The simulated eUICC's certificates: DER X.509 files of a test PKI and the
// certificate extensions the simulator reads from them.
#ifndef HBRSIM_SIM_PKI_H
#define HBRSIM_SIM_PKI_H

#include "sim_tlv.h"

#include <string>

namespace hbrsim {

struct Credentials {
    Bytes euiccCertificate;  // the eUICC's own, signed by the EUM; subject serialNumber = EID
    Bytes eumCertificate;    // the EUM's, signed by the CI
    Bytes ciKeyId;           // subject key identifier of the CI
};

// The extnValue content of the extension with this OID (content bytes) in a
// DER certificate, or empty when the certificate has none or is malformed.
Bytes certificateExtension(const Bytes &certificate, const Bytes &oid);
// The subject key identifier of a certificate, or empty.
Bytes subjectKeyIdOf(const Bytes &certificate);

// Reads a DER certificate file (one SEQUENCE filling the file).
bool readCertificateFile(const std::string &path, Bytes &out, std::string *error = nullptr);
// The CI's key id from its certificate file (which must carry one).
bool readCiKeyId(const std::string &ciFile, Bytes &keyId, std::string *error = nullptr);
// ci.der, eum.der and euicc.der of a PKI folder.
bool loadCredentials(const std::string &pkiDir, Credentials &out, std::string *error = nullptr);
// Those of the build tree's test PKI, read once it exists; empty before.
Credentials testPkiCredentials();

}  // namespace hbrsim

#endif
