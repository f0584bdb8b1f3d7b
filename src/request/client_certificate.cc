#include "request/client_certificate.h"

#include <string.h>

#include "config/config.h"
#include "request/allow_list.h"
#include "request/status_page.h"

namespace vkx {

namespace {

void Wipe(std::string& text) {
  explicit_bzero(text.data(), text.size());
  text.clear();
}

}  // namespace

bool OffersClientCertificate(const std::string& host, int port, const Config& config) {
  if (config.GetClientCertificate().empty() || host.empty()) return false;
  std::string hosts = config.GetClientCertificateHosts();
  if (hosts.empty()) hosts = HostOfUrl(config.GetUrl());
  std::string url = "https://" + (host.find(':') != std::string::npos ? "[" + host + "]" : host);
  if (port > 0) url += ":" + std::to_string(port);
  return UrlAllowed(url + "/", ParseAllowList(hosts));
}

std::string ClientCertificateKeyNames(const std::string& key) {
  return key.empty() ? "clientCertificate" : "clientCertificate, clientCertificateKey";
}

PinKeeper::PinKeeper(std::string fromEnvironment) : pin_(std::move(fromEnvironment)) {}

PinKeeper::~PinKeeper() { Wipe(pin_); }

std::optional<std::string> PinKeeper::Answer(bool retry, int triesLeft) {
  if (retry) {
    Wipe(pin_);
    fresh_ = false;
  }
  if (pin_.empty() || (triesLeft == 1 && !fresh_)) return std::nullopt;
  fresh_ = false;
  return pin_;
}

void PinKeeper::Entered(const std::string& pin) {
  Wipe(pin_);
  pin_ = pin;
  fresh_ = !pin_.empty();
}

}  // namespace vkx
