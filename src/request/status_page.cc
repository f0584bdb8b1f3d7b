#include "request/status_page.h"

#include <cctype>

namespace vkx {

namespace {

// The page's words in one language.
struct Words {
  const char* lang;
  const char* heading[4];  // by StatusKind
  const char* title[4];    // "{host}" stands for the host
  const char* retry;       // "{n}": seconds
  const char* retryNow;
  const char* admin[4];    // by StatusKind; null: none
};

const Words kEnglish = {
    "en",
    {"Waiting for the server", "Certificate refused", "Restarting the page",
     "Certificate needed"},
    {"Waiting for {host}", "Certificate refused: {host}", "Restarting {host}",
     "Certificate needed: {host}"},
    "Trying again in {n} s",
    "Trying again now",
    {nullptr,
     "For the administrator: the kiosk accepts only certificates that it can verify against "
     "the system's trust store (/etc/ssl/certs). The configuration key acceptCertError=true "
     "makes it accept every certificate.",
     nullptr,
     "For the administrator: the configuration key clientCertificate (with "
     "clientCertificateKey) names the terminal's certificate, clientCertificateHosts the "
     "hosts it is offered to."},
};

const Words kGerman = {
    "de",
    {"Warten auf den Server", "Zertifikat abgelehnt", "Die Seite wird neu gestartet",
     "Zertifikat erforderlich"},
    {"Warten auf {host}", "Zertifikat abgelehnt: {host}", "Neustart: {host}",
     "Zertifikat erforderlich: {host}"},
    "Neuer Versuch in {n} s",
    "Neuer Versuch läuft",
    {nullptr,
     "Für die Administration: Der Kiosk nimmt nur Zertifikate an, die er mit dem "
     "Zertifikatsspeicher des Systems (/etc/ssl/certs) prüfen kann. Der Konfigurationsschlüssel "
     "acceptCertError=true lässt ihn jedes Zertifikat annehmen.",
     nullptr,
     "Für die Administration: Der Konfigurationsschlüssel clientCertificate (mit "
     "clientCertificateKey) nennt das Zertifikat des Terminals, clientCertificateHosts die "
     "Hosts, denen es angeboten wird."},
};

const Words& WordsOf(Language language) {
  return language == Language::German ? kGerman : kEnglish;
}

// "{n}" is the server's status for ServerError.
const char* ReasonText(StatusReason reason, Language language) {
  const bool de = language == Language::German;
  switch (reason) {
    case StatusReason::ConnectionRefused: return de ? "Verbindung abgelehnt" : "connection refused";
    case StatusReason::NameNotFound: return de ? "Name nicht gefunden" : "name not found";
    case StatusReason::TimedOut: return de ? "keine Antwort (Zeitüberschreitung)" : "no answer in time";
    case StatusReason::Unreachable: return de ? "Netzwerk nicht erreichbar" : "network unreachable";
    case StatusReason::ConnectionLost: return de ? "Verbindung abgebrochen" : "connection closed";
    case StatusReason::Offline: return de ? "keine Netzwerkverbindung" : "no network connection";
    case StatusReason::NetworkError: return de ? "Netzwerkfehler" : "network error";
    case StatusReason::ServerError: return de ? "Serverfehler {n}" : "server error {n}";
    case StatusReason::ClientCertificateMissing:
      return de ? "Die Seite verlangt ein Zertifikat, das dieses Terminal nicht hat."
                : "The site asks for a certificate that this terminal does not have.";
    case StatusReason::ClientCertificateUnusable:
      return de ? "Das Zertifikat dieses Terminals lässt sich nicht laden."
                : "This terminal's certificate cannot be loaded.";
    case StatusReason::CertificateRefused:
      break;  // CertificateText
    case StatusReason::RendererCrashed:
      return de ? "Die Seite ist abgestürzt." : "The page crashed.";
    case StatusReason::RendererOutOfMemory:
      return de ? "Die Seite hat zu viel Speicher belegt." : "The page used too much memory.";
    case StatusReason::RendererEnded:
      return de ? "Die Seite wurde beendet." : "The page was ended.";
  }
  return "";
}

const char* CertificateText(CertProblem problem, Language language) {
  const bool de = language == Language::German;
  switch (problem) {
    case CertProblem::SelfSigned:
      return de ? "Das Zertifikat ist selbst signiert." : "The certificate is self-signed.";
    case CertProblem::UnknownAuthority:
      return de ? "Das Zertifikat stammt von einer unbekannten Zertifizierungsstelle."
                : "The certificate comes from an unknown authority.";
    case CertProblem::Expired:
      return de ? "Das Zertifikat ist abgelaufen." : "The certificate has expired.";
    case CertProblem::NotYetValid:
      return de ? "Das Zertifikat ist noch nicht gültig." : "The certificate is not valid yet.";
    case CertProblem::WrongHost:
      return de ? "Das Zertifikat gilt für einen anderen Hostnamen."
                : "The certificate is for another host name.";
    case CertProblem::Revoked:
      return de ? "Das Zertifikat wurde widerrufen." : "The certificate has been revoked.";
    case CertProblem::WeakSignature:
      return de ? "Das Zertifikat ist zu schwach gesichert." : "The certificate is too weak.";
    case CertProblem::Missing:
      return de ? "Der Server hat kein Zertifikat gesendet." : "The server sent no certificate.";
    case CertProblem::None:
    case CertProblem::Invalid:
      break;
  }
  return de ? "Das Zertifikat ist ungültig." : "The certificate is not valid.";
}

std::string Replace(std::string text, std::string_view key, const std::string& value) {
  const size_t at = text.find(key);
  if (at != std::string::npos) text.replace(at, key.size(), value);
  return text;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

}  // namespace

StatusKind KindOf(StatusReason reason) {
  if (reason >= StatusReason::RendererCrashed) return StatusKind::Restarting;
  if (reason == StatusReason::CertificateRefused) return StatusKind::CertificateRefused;
  if (reason == StatusReason::ClientCertificateMissing ||
      reason == StatusReason::ClientCertificateUnusable) {
    return StatusKind::CertificateNeeded;
  }
  return StatusKind::Waiting;
}

StatusReason ReasonOfLoadError(int error_code) {
  switch (error_code) {
    case engine::ERR_CONNECTION_REFUSED: return StatusReason::ConnectionRefused;
    case engine::ERR_NAME_NOT_RESOLVED: return StatusReason::NameNotFound;
    case engine::ERR_TIMED_OUT:
    case engine::ERR_CONNECTION_TIMED_OUT:
      return StatusReason::TimedOut;
    case engine::ERR_ADDRESS_UNREACHABLE: return StatusReason::Unreachable;
    case engine::ERR_CONNECTION_CLOSED:
    case engine::ERR_CONNECTION_RESET:
      return StatusReason::ConnectionLost;
    case engine::ERR_INTERNET_DISCONNECTED: return StatusReason::Offline;
    default: return StatusReason::NetworkError;
  }
}

StatusReason ReasonOfTermination(engine::TerminationStatus status) {
  switch (status) {
    case engine::TerminationStatus::Crashed: return StatusReason::RendererCrashed;
    case engine::TerminationStatus::OutOfMemory: return StatusReason::RendererOutOfMemory;
    case engine::TerminationStatus::Killed: break;
  }
  return StatusReason::RendererEnded;
}

Language StatusLanguage(std::string_view acceptLanguageList) {
  std::string_view first = acceptLanguageList.substr(0, acceptLanguageList.find(','));
  first = first.substr(0, first.find(';'));
  const size_t begin = first.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return Language::English;
  first = first.substr(begin);
  first = first.substr(0, first.find_first_of("-_ \t"));
  return Lower(first) == "de" ? Language::German : Language::English;
}

std::string HostOfUrl(std::string_view url) {
  const size_t scheme_end = url.find("://");
  if (scheme_end == std::string_view::npos) return std::string(url);
  std::string_view authority = url.substr(scheme_end + 3);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  const size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority = authority.substr(at + 1);
  if (!authority.empty() && authority.front() == '[') {
    authority = authority.substr(0, authority.find(']') + 1);  // npos + 1: all of it
  } else {
    authority = authority.substr(0, authority.find(':'));
  }
  return authority.empty() ? std::string(url) : std::string(authority);
}

std::string EscapeHtml(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&#39;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

std::string StatusPageTitle(const StatusPage& page) {
  const Words& words = WordsOf(page.language);
  return Replace(words.title[static_cast<int>(KindOf(page.reason))], "{host}", HostOfUrl(page.url));
}

std::string StatusPageHtml(const StatusPage& page) {
  const Words& words = WordsOf(page.language);
  const StatusKind kind = KindOf(page.reason);
  const char* text = page.reason == StatusReason::CertificateRefused
                         ? CertificateText(page.certificate, page.language)
                         : ReasonText(page.reason, page.language);
  const std::string reason = Replace(text, "{n}",
                                     std::to_string(page.httpStatus));
  std::string html =
      "<!DOCTYPE html><html lang=\"" + std::string(words.lang) +
      "\"><head><meta charset=\"utf-8\"><title>" + EscapeHtml(StatusPageTitle(page)) +
      "</title><style>"
      "html,body{margin:0;height:100%;overflow:hidden}"
      "body{display:flex;flex-direction:column;align-items:center;justify-content:center;"
      "text-align:center;background:#e4e4e4;color:#222;font-family:sans-serif;"
      "cursor:default;user-select:none;-webkit-user-select:none}"
      "h1{font-size:7vmin;margin:0 5vw 4vmin;font-weight:normal}"
      "p{margin:1.5vmin 5vw;font-size:4.5vmin;overflow-wrap:anywhere}"
      "#host{font-size:6vmin;font-weight:bold}"
      "#retry{color:#444}"
      "#admin{margin-top:6vmin;font-size:2.8vmin;color:#555;max-width:80vw}"
      "</style></head><body><h1>" +
      EscapeHtml(words.heading[static_cast<int>(kind)]) + "</h1><p id=\"host\">" +
      EscapeHtml(HostOfUrl(page.url)) + "</p><p id=\"reason\">" + EscapeHtml(reason) + "</p>";
  if (page.retrySeconds > 0) {
    // The text, with "{n}" for the seconds left, rides in attributes; the
    // script counts down and never loads anything itself.
    html += "<p id=\"retry\" data-seconds=\"" + std::to_string(page.retrySeconds) +
            "\" data-text=\"" + EscapeHtml(words.retry) + "\" data-now=\"" +
            EscapeHtml(words.retryNow) + "\">" +
            EscapeHtml(Replace(words.retry, "{n}", std::to_string(page.retrySeconds))) +
            "</p><script>(function(){"
            "var e=document.getElementById('retry'),n=+e.dataset.seconds;"
            "var t=setInterval(function(){n-=1;"
            "if(n>0){e.textContent=e.dataset.text.replace('{n}',n);}"
            "else{e.textContent=e.dataset.now;clearInterval(t);}},1000);})();</script>";
  }
  if (const char* admin = words.admin[static_cast<int>(kind)]) {
    html += "<p id=\"admin\">" + EscapeHtml(admin) + "</p>";
  }
  return html + "</body></html>";
}

std::string PinPageHtml(const std::string& host, bool wrong, int triesLeft, Language language) {
  const bool de = language == Language::German;
  std::string note;
  if (wrong) {
    note = de ? "Die PIN war falsch." : "The PIN was wrong.";
    if (triesLeft == 1) note += de ? " Dies ist der letzte Versuch." : " This is the last try.";
    if (triesLeft == 2) note += de ? " Es bleiben mehrere Versuche." : " Several tries are left.";
  }
  return "<!DOCTYPE html><html lang=\"" + std::string(de ? "de" : "en") +
         "\"><head><meta charset=\"utf-8\"><title>" +
         EscapeHtml((de ? "PIN für " : "PIN for ") + host) +
         "</title><style>"
         "html,body{margin:0;height:100%;overflow:hidden}"
         "body{display:flex;flex-direction:column;align-items:center;justify-content:center;"
         "text-align:center;background:#e4e4e4;color:#222;font-family:sans-serif}"
         "h1{font-size:6vmin;margin:0 5vw 3vmin;font-weight:normal}"
         "p{margin:1.5vmin 5vw;font-size:4vmin;overflow-wrap:anywhere}"
         "#host{font-weight:bold}#wrong{color:#a00}"
         "input{font-size:5vmin;width:14em;max-width:80vw;padding:1vmin;text-align:center}"
         "</style></head><body><h1>" +
         (de ? "PIN des Zertifikats" : "Certificate PIN") + "</h1><p id=\"host\">" +
         EscapeHtml(host) + "</p><p>" +
         (de ? "Bitte die PIN eingeben und mit der Eingabetaste bestätigen."
             : "Type the PIN and press Enter.") +
         "</p>" + (note.empty() ? "" : "<p id=\"wrong\">" + note + "</p>") +
         "<form onsubmit=\"return false\"><input id=\"pin\" type=\"password\" "
         "autocomplete=\"off\" autofocus></form></body></html>";
}

}  // namespace vkx
