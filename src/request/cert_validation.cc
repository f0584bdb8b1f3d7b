#include "request/cert_validation.h"

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <memory>
#include <string>

#include "log/log.h"

namespace vkx {

namespace {

struct X509Free {
  void operator()(X509* cert) const { X509_free(cert); }
};
struct StoreFree {
  void operator()(X509_STORE* store) const { X509_STORE_free(store); }
};
struct ContextFree {
  void operator()(X509_STORE_CTX* context) const { X509_STORE_CTX_free(context); }
};
struct StackFree {
  void operator()(STACK_OF(X509) * stack) const { sk_X509_pop_free(stack, X509_free); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

// The whole buffer as exactly one DER certificate.
X509Ptr ParseDer(const engine::DerBytes& der) {
  if (der.empty()) return nullptr;
  const unsigned char* data = der.data();
  X509Ptr cert(d2i_X509(nullptr, &data, static_cast<long>(der.size())));
  if (cert && data != der.data() + der.size()) return nullptr;
  return cert;
}

CertProblem ProblemOf(int verify_error) {
  switch (verify_error) {
    case X509_V_OK: return CertProblem::None;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      return CertProblem::SelfSigned;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
      return CertProblem::UnknownAuthority;
    case X509_V_ERR_CERT_HAS_EXPIRED: return CertProblem::Expired;
    case X509_V_ERR_CERT_NOT_YET_VALID: return CertProblem::NotYetValid;
    case X509_V_ERR_CERT_REVOKED: return CertProblem::Revoked;
    case X509_V_ERR_CA_MD_TOO_WEAK:
    case X509_V_ERR_CA_KEY_TOO_SMALL:
    case X509_V_ERR_EE_KEY_TOO_SMALL:
      return CertProblem::WeakSignature;
    default: return CertProblem::Invalid;
  }
}

}  // namespace

TrustStore SystemTrustStore() {
  return {"/etc/ssl/certs/ca-certificates.crt", "/etc/ssl/certs/"};
}

bool ValidateCertificateChain(const engine::DerBytes& server,
                              const std::vector<engine::DerBytes>& chain, const TrustStore& store,
                              CertProblem* problem) {
  LogError("ValidateCertificateChain");
  return ValidateWithOpenSSL(server, chain, store, problem);
}

bool ValidateWithOpenSSL(const engine::DerBytes& server,
                         const std::vector<engine::DerBytes>& intermediates,
                         const TrustStore& store, CertProblem* problem) {
  LogError("ValidateWithOpenSSL");
  CertProblem unused = CertProblem::None;
  CertProblem& why = problem != nullptr ? *problem : unused;
  // Anything that stops the check before OpenSSL's verdict: unreadable.
  why = CertProblem::Invalid;
  X509Ptr cert = ParseDer(server);
  if (!cert) return false;
  std::unique_ptr<STACK_OF(X509), StackFree> untrusted(sk_X509_new_null());
  if (!untrusted) return false;
  for (const engine::DerBytes& der : intermediates) {
    X509Ptr issuer = ParseDer(der);
    if (!issuer) return false;
    if (sk_X509_push(untrusted.get(), issuer.get()) == 0) return false;
    issuer.release();  // the stack owns it now
  }
  std::unique_ptr<X509_STORE, StoreFree> trust(X509_STORE_new());
  if (!trust) return false;
  // A missing location simply trusts nothing from it.
  if (!store.caFile.empty()) X509_STORE_load_file(trust.get(), store.caFile.c_str());
  if (!store.caDirectory.empty()) X509_STORE_load_path(trust.get(), store.caDirectory.c_str());
  std::unique_ptr<X509_STORE_CTX, ContextFree> context(X509_STORE_CTX_new());
  if (!context || X509_STORE_CTX_init(context.get(), trust.get(), cert.get(), untrusted.get()) != 1) {
    return false;
  }
  const int result = X509_verify_cert(context.get());
  if (result == 1) {
    why = CertProblem::None;
  } else if (const CertProblem found = ProblemOf(X509_STORE_CTX_get_error(context.get()));
             found != CertProblem::None) {
    why = found;
  }
  LogError("ValidateWithOpenSSL, result: " + std::to_string(result));
  return result == 1;
}

}  // namespace vkx
