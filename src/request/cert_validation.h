// The kiosk's own verdict on a server certificate that the engine could not
// verify: OpenSSL against the system trust store.
#pragma once

#include <string>
#include <vector>

#include "engine/types.h"

namespace vkx {

struct TrustStore {
  std::string caFile;
  std::string caDirectory;
};

// Debian's bundle and hashed directory.
TrustStore SystemTrustStore();

// Why a certificate was refused.
enum class CertProblem {
  None,
  SelfSigned,
  UnknownAuthority,
  Expired,
  NotYetValid,
  WrongHost,
  Revoked,
  WeakSignature,
  Missing,
  Invalid,
};

// Verifies the server's certificate, with the issuer chain it sent offered
// as untrusted intermediates, against `store` with OpenSSL's default
// parameters. Traces itself on standard error. `problem`, when given,
// receives why a refused chain was refused (None when it is accepted).
bool ValidateCertificateChain(const engine::DerBytes& server,
                              const std::vector<engine::DerBytes>& chain, const TrustStore& store,
                              CertProblem* problem = nullptr);
bool ValidateWithOpenSSL(const engine::DerBytes& server,
                         const std::vector<engine::DerBytes>& intermediates,
                         const TrustStore& store, CertProblem* problem = nullptr);

}  // namespace vkx
