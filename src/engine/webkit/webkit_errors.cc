#include "engine/webkit/webkit_errors.h"

#include <webkit2/webkit2.h>

namespace engine::webkit {

namespace {

int NetworkErrorCode(int code) {
  switch (code) {
    case WEBKIT_NETWORK_ERROR_CANCELLED: return ERR_ABORTED;
    case WEBKIT_NETWORK_ERROR_FILE_DOES_NOT_EXIST: return ERR_FILE_NOT_FOUND;
    case WEBKIT_NETWORK_ERROR_UNKNOWN_PROTOCOL: return ERR_UNKNOWN_URL_SCHEME;
    default: return ERR_FAILED;
  }
}

int IoErrorCode(int code) {
  switch (code) {
    case G_IO_ERROR_CONNECTION_REFUSED: return ERR_CONNECTION_REFUSED;
    case G_IO_ERROR_TIMED_OUT: return ERR_TIMED_OUT;
    case G_IO_ERROR_HOST_UNREACHABLE: case G_IO_ERROR_NETWORK_UNREACHABLE: return ERR_ADDRESS_UNREACHABLE;
    case G_IO_ERROR_CONNECTION_CLOSED: return ERR_CONNECTION_CLOSED;
    case G_IO_ERROR_CANCELLED: return ERR_ABORTED;
    default: return ERR_FAILED;
  }
}

DerBytes CertificateDer(GTlsCertificate* certificate) {
  g_autoptr(GByteArray) der = nullptr;
  g_object_get(certificate, "certificate", &der, nullptr);
  if (der == nullptr) return {};
  return DerBytes(der->data, der->data + der->len);
}

}  // namespace

int CertificateErrorCode(GTlsCertificateFlags errors) {
  if (errors & G_TLS_CERTIFICATE_BAD_IDENTITY) return ERR_CERT_COMMON_NAME_INVALID;
  if (errors & G_TLS_CERTIFICATE_UNKNOWN_CA) return ERR_CERT_AUTHORITY_INVALID;
  if (errors & (G_TLS_CERTIFICATE_EXPIRED | G_TLS_CERTIFICATE_NOT_ACTIVATED)) {
    return ERR_CERT_DATE_INVALID;
  }
  if (errors & G_TLS_CERTIFICATE_REVOKED) return ERR_CERT_REVOKED;
  if (errors & G_TLS_CERTIFICATE_INSECURE) return ERR_CERT_WEAK_SIGNATURE_ALGORITHM;
  return ERR_CERT_INVALID;
}

int LoadErrorCode(const GError* error) {
  if (error->domain == WEBKIT_POLICY_ERROR) return ERR_BLOCKED_BY_CLIENT;
  if (error->domain == WEBKIT_NETWORK_ERROR) return NetworkErrorCode(error->code);
  if (error->domain == G_TLS_ERROR) {
    return error->code == G_TLS_ERROR_CERTIFICATE_REQUIRED ? ERR_SSL_CLIENT_AUTH_CERT_NEEDED
                                                           : ERR_SSL_PROTOCOL_ERROR;
  }
  if (error->domain == G_RESOLVER_ERROR) return ERR_NAME_NOT_RESOLVED;
  if (error->domain == G_IO_ERROR) return IoErrorCode(error->code);
  return ERR_FAILED;
}

SslInfo SslInfoOf(GTlsCertificate* certificate) {
  SslInfo info;
  info.server_certificate = CertificateDer(certificate);
  for (GTlsCertificate* issuer = g_tls_certificate_get_issuer(certificate); issuer != nullptr;
       issuer = g_tls_certificate_get_issuer(issuer)) {
    info.issuer_chain.push_back(CertificateDer(issuer));
  }
  return info;
}

}  // namespace engine::webkit
