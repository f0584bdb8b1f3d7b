// Which hosts get the configured TLS client certificate, and the PIN of the
// token that holds its key: pure, so that unit tests reach it. The PIN
// lives in this object's memory only, and is wiped when it is replaced.
#pragma once

#include <optional>
#include <string>

class Config;

namespace vkx {

// Whether a server at host:port that asks for a client certificate is
// offered the configured one: a certificate is configured and the host
// matches clientCertificateHosts (urlAllowList entries; empty: the host of
// url).
bool OffersClientCertificate(const std::string& host, int port, const Config& config);

// The configuration keys a certificate was loaded from, for the log:
// "clientCertificate", with ", clientCertificateKey" when a key is named.
std::string ClientCertificateKeyNames(const std::string& key);

class PinKeeper {
 public:
  // `fromEnvironment`: VKX_CLIENT_CERT_PIN (empty: not set).
  explicit PinKeeper(std::string fromEnvironment);
  ~PinKeeper();
  PinKeeper(const PinKeeper&) = delete;
  PinKeeper& operator=(const PinKeeper&) = delete;

  // The token asks for the PIN (each new connection may): the PIN to hand
  // over, or nullopt when a person must type one. `retry`: the one given
  // last was wrong; it is forgotten (the environment's too, never tried
  // twice). `triesLeft` 1: the token's final try, which only a PIN a
  // person has just typed gets, so that a stored PIN (the environment's,
  // at every start; the same one on parallel connections) never locks
  // the token.
  std::optional<std::string> Answer(bool retry, int triesLeft);
  // What a person typed on the PIN page.
  void Entered(const std::string& pin);

 private:
  std::string pin_;
  // Typed and not handed over yet.
  bool fresh_ = false;
};

}  // namespace vkx
