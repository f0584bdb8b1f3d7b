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

// What the token reports of the PIN tries left.
enum class PinTries { Unknown, Many, Final };

class PinKeeper {
 public:
  // `fromEnvironment`: VKX_CLIENT_CERT_PIN (empty: not set).
  explicit PinKeeper(std::string fromEnvironment);
  ~PinKeeper();
  PinKeeper(const PinKeeper&) = delete;
  PinKeeper& operator=(const PinKeeper&) = delete;

  // The token asks for the PIN; `retry`: the one given last was wrong, and
  // is forgotten (the environment's too: a wrong PIN is never tried twice,
  // so that it cannot lock the token). nullopt: a person must type one.
  std::optional<std::string> Answer(bool retry);
  // Whether the PIN last asked for was refused by the token.
  bool LastRefused() const { return last_refused_; }
  // What a person typed on the PIN page.
  void Entered(const std::string& pin);

 private:
  std::string pin_;
  bool last_refused_ = false;
};

}  // namespace vkx
