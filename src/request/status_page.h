// The kiosk's own page, shown in place of the engine's error pages while
// the page cannot be shown: waiting for its server, a certificate the
// kiosk refused, a renderer being replaced. Pure text building: every
// string from outside (the URL's host) is escaped.
#pragma once

#include <string>
#include <string_view>

#include "engine/types.h"
#include "request/cert_validation.h"

namespace vkx {

enum class StatusKind { Waiting, CertificateRefused, Restarting, CertificateNeeded };

enum class StatusReason {
  // Waiting for the server.
  ConnectionRefused,
  NameNotFound,
  TimedOut,
  Unreachable,
  ConnectionLost,
  Offline,
  NetworkError,
  ServerError,
  // Certificate refused, for StatusPage::certificate.
  CertificateRefused,
  // Certificate needed: the site demands a client certificate, and none is
  // offered to it, or the configured one cannot be loaded.
  ClientCertificateMissing,
  ClientCertificateUnusable,
  // Restarting.
  RendererCrashed,
  RendererOutOfMemory,
  RendererEnded,
};

StatusKind KindOf(StatusReason reason);
// The reason for a failed load's network error number.
StatusReason ReasonOfLoadError(int error_code);
StatusReason ReasonOfTermination(engine::TerminationStatus status);

enum class Language { English, German };
// The language of the first entry of an accept-language list ("de-DE,en"),
// where the page has a translation; English otherwise.
Language StatusLanguage(std::string_view acceptLanguageList);

struct StatusPage {
  StatusReason reason = StatusReason::NetworkError;
  // The page it stands for.
  std::string url;
  // ServerError: the server's HTTP status.
  int httpStatus = 0;
  // CertificateRefused: why.
  CertProblem certificate = CertProblem::Invalid;
  // Seconds until the next attempt; 0: none announced.
  int retrySeconds = 0;
  Language language = Language::English;
};

// The URL's host (without user information or port); the URL itself when
// it has none.
std::string HostOfUrl(std::string_view url);
std::string EscapeHtml(std::string_view text);

// The page's title, naming the state and the host (not escaped).
std::string StatusPageTitle(const StatusPage& page);
// A whole HTML document: no link, no form, nothing that leaves it; a small
// script counts the seconds down.
std::string StatusPageHtml(const StatusPage& page);

// The page on which a person types the PIN of the token that holds the
// client certificate for `host`: one field ("pin"), which Return submits
// to the kiosk; `wrong`: the last PIN was refused; `triesLeft` as the token
// reports it (0 unknown, 1 the final one, 2 several).
std::string PinPageHtml(const std::string& host, bool wrong, int triesLeft, Language language);

}  // namespace vkx
