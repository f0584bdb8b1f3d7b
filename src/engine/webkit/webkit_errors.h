// WebKit, GLib and GnuTLS errors as the port's network error numbers.
#pragma once

#include <gio/gio.h>

#include "engine/types.h"

namespace engine::webkit {

// The error number for the TLS errors that GnuTLS reported. A name
// mismatch wins over anything else it comes with.
int CertificateErrorCode(GTlsCertificateFlags errors);

// The error number of a failed load.
int LoadErrorCode(const GError* error);

// The server's certificate and the issuer chain it sent, in DER.
SslInfo SslInfoOf(GTlsCertificate* certificate);

}  // namespace engine::webkit
