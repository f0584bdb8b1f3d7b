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

enum class StatusKind { Waiting, CertificateRefused, Restarting };

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

}  // namespace vkx
