// The WebKit adapter's translation of GLib/WebKit errors into the port's
// numbers. Pure functions: no display or web process needed.
#include "engine/webkit/webkit_errors.h"

#include <gtest/gtest.h>

namespace {

using namespace engine;
using webkit::CertificateErrorCode;
using webkit::LoadErrorCode;

// WebKit's error domains and codes as WebKit registers them: only the
// adapter includes WebKit headers.
const GQuark kWebKitNetworkError = g_quark_from_static_string("WebKitNetworkError");
const GQuark kWebKitPolicyError = g_quark_from_static_string("WebKitPolicyError");
enum : int {
  kNetworkTransport = 300,
  kNetworkUnknownProtocol = 301,
  kNetworkCancelled = 302,
  kNetworkFileDoesNotExist = 303,
  kPolicyInterrupted = 102,
};

TEST(WebKitTranslate, CertificateErrorsPickTheStrongestReason) {
  const auto flags = [](int bits) { return static_cast<GTlsCertificateFlags>(bits); };
  EXPECT_EQ(CertificateErrorCode(flags(G_TLS_CERTIFICATE_BAD_IDENTITY | G_TLS_CERTIFICATE_UNKNOWN_CA |
                                       G_TLS_CERTIFICATE_EXPIRED)),
            ERR_CERT_COMMON_NAME_INVALID);
  EXPECT_EQ(CertificateErrorCode(flags(G_TLS_CERTIFICATE_UNKNOWN_CA | G_TLS_CERTIFICATE_EXPIRED)),
            ERR_CERT_AUTHORITY_INVALID);
  EXPECT_EQ(CertificateErrorCode(G_TLS_CERTIFICATE_NOT_ACTIVATED), ERR_CERT_DATE_INVALID);
  EXPECT_EQ(CertificateErrorCode(G_TLS_CERTIFICATE_REVOKED), ERR_CERT_REVOKED);
  EXPECT_EQ(CertificateErrorCode(G_TLS_CERTIFICATE_INSECURE), ERR_CERT_WEAK_SIGNATURE_ALGORITHM);
  EXPECT_EQ(CertificateErrorCode(G_TLS_CERTIFICATE_GENERIC_ERROR), ERR_CERT_INVALID);
}

TEST(WebKitTranslate, LoadErrorsByDomainAndCode) {
  const auto code = [](GQuark domain, int number) {
    g_autoptr(GError) error = g_error_new_literal(domain, number, "failed");
    return LoadErrorCode(error);
  };
  EXPECT_EQ(code(kWebKitPolicyError, kPolicyInterrupted), ERR_BLOCKED_BY_CLIENT);
  EXPECT_EQ(code(kWebKitNetworkError, kNetworkCancelled), ERR_ABORTED);
  EXPECT_EQ(code(kWebKitNetworkError, kNetworkFileDoesNotExist), ERR_FILE_NOT_FOUND);
  EXPECT_EQ(code(kWebKitNetworkError, kNetworkUnknownProtocol), ERR_UNKNOWN_URL_SCHEME);
  EXPECT_EQ(code(kWebKitNetworkError, kNetworkTransport), ERR_FAILED);
  EXPECT_EQ(code(G_TLS_ERROR, G_TLS_ERROR_BAD_CERTIFICATE), ERR_SSL_PROTOCOL_ERROR);
  EXPECT_EQ(code(G_TLS_ERROR, G_TLS_ERROR_CERTIFICATE_REQUIRED), ERR_SSL_CLIENT_AUTH_CERT_NEEDED);
  EXPECT_EQ(code(G_RESOLVER_ERROR, G_RESOLVER_ERROR_NOT_FOUND), ERR_NAME_NOT_RESOLVED);
  EXPECT_EQ(code(G_IO_ERROR, G_IO_ERROR_CONNECTION_REFUSED), ERR_CONNECTION_REFUSED);
  EXPECT_EQ(code(G_IO_ERROR, G_IO_ERROR_TIMED_OUT), ERR_TIMED_OUT);
  EXPECT_EQ(code(G_IO_ERROR, G_IO_ERROR_NETWORK_UNREACHABLE), ERR_ADDRESS_UNREACHABLE);
  EXPECT_EQ(code(G_IO_ERROR, G_IO_ERROR_CONNECTION_CLOSED), ERR_CONNECTION_CLOSED);
  EXPECT_EQ(code(G_IO_ERROR, G_IO_ERROR_CANCELLED), ERR_ABORTED);
  EXPECT_EQ(code(G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED), ERR_FAILED);
  EXPECT_EQ(code(G_FILE_ERROR, G_FILE_ERROR_NOENT), ERR_FAILED);
}

}  // namespace
