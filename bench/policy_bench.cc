// Cost of the request policy on the UI thread: what every navigation pays
// (configuration reload, cookie file read, cookie injection) and what one
// certificate decision pays (OpenSSL verification against the system store).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "config/config.h"
#include "cookies/cookies.h"
#include "engine/engine.h"
#include "request/cert_validation.h"

// The engine's side stays out of the measurement: a store that accepts
// every cookie at once.
namespace engine {
namespace {
class NullStore : public CookieManager {
 public:
  bool SetCookie(const std::string&, const Cookie&, std::shared_ptr<SetCookieCallback>) override {
    return true;
  }
  bool VisitAllCookies(std::shared_ptr<CookieVisitor>) override { return true; }
  void SetChangeObserver(std::function<void()>) override {}
  std::optional<uint64_t> StoreGeneration() override { return 0; }
};
}  // namespace
std::shared_ptr<CookieManager> CookieManager::GetGlobalManager() {
  static auto store = std::make_shared<NullStore>();
  return store;
}
bool CurrentlyOnUiThread() { return true; }
void PostDelayedToUiThread(std::function<void()>, int) {}
void SetNetworkProxy(const std::string&, const std::string&) {}
}  // namespace engine

namespace {

struct Files {
  std::string dir;
  std::string config;
  std::string cookies;
};

// A configuration of the usual size and a 200-line cookie file of which 20
// cookies belong to the host visited.
Files MakeFiles() {
  char templ[] = "/tmp/vkx-bench-XXXXXX";
  Files files{mkdtemp(templ), "", ""};
  files.config = files.dir + "/vkx.conf";
  files.cookies = files.dir + "/cookies.txt";
  std::ofstream cookies(files.cookies);
  for (int i = 0; i < 200; ++i) {
    const bool ours = i % 10 == 0;
    cookies << (ours ? ".portal.example.org" : ".other" + std::to_string(i) + ".example.net")
            << "\tTRUE\t/\tTRUE\t1900000000\tname" << i << "\tvalue-" << i
            << "-0123456789abcdef0123456789abcdef\t\n";
  }
  std::ofstream(files.config) << "url=https://portal.example.org/\ndisplayMode=fullscreen\n"
                                 "width=1920\nheight=1080\nenableToolbar=false\n"
                                 "disableKbdShortcuts=true\nendSessionKey=CtrlAltC\n"
                                 "cacheCookies=true\ncookieFile="
                              << files.cookies << "\ncookieFilter=tracking,_ga\n";
  setenv("VKX_CONFIG_PATH", files.config.c_str(), 1);
  return files;
}

// The injection traces every cookie on standard error; the terminal is not
// what is measured.
struct QuietStderr {
  QuietStderr() : saved(dup(2)) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    close(null);
  }
  ~QuietStderr() {
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
  }
  int saved;
};

void BM_NavigationPolicy(benchmark::State& state) {
  const Files files = MakeFiles();
  Config& config = Config::Instance();
  QuietStderr quiet;
  for (auto _ : state) {
    if (config.Reload()) {
      InjectCookiesFromFile("https://portal.example.org/start", config.GetCookieFile(),
                            config.GetCookieFilter());
    }
  }
}
BENCHMARK(BM_NavigationPolicy)->Unit(benchmark::kMicrosecond);

using X509Ptr = std::unique_ptr<X509, decltype(&X509_free)>;
using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

X509Ptr MakeCert(const char* name, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey, bool ca) {
  X509Ptr cert(X509_new(), X509_free);
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400);
  X509_set_pubkey(cert.get(), key);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(cert.get()), "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(name), -1, -1, 0);
  X509_set_issuer_name(cert.get(), X509_get_subject_name(issuer ? issuer : cert.get()));
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, issuer ? issuer : cert.get(), cert.get(), nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, NID_basic_constraints,
                                            ca ? "critical,CA:TRUE" : "CA:FALSE");
  X509_add_ext(cert.get(), ext, -1);
  X509_EXTENSION_free(ext);
  X509_sign(cert.get(), issuerKey, EVP_sha256());
  return cert;
}

engine::DerBytes Der(X509* cert) {
  unsigned char* data = nullptr;
  const int size = i2d_X509(cert, &data);
  engine::DerBytes der(data, data + size);
  OPENSSL_free(data);
  return der;
}

// One issuer: a server certificate and its intermediate, checked against the
// system store (where the decision ends in a refusal: the cost is the same).
void BM_CertificateDecision(benchmark::State& state) {
  KeyPtr caKey(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"), EVP_PKEY_free);
  KeyPtr leafKey(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"), EVP_PKEY_free);
  X509Ptr ca = MakeCert("Bench CA", caKey.get(), nullptr, caKey.get(), true);
  X509Ptr leaf = MakeCert("portal.example.org", leafKey.get(), ca.get(), caKey.get(), false);
  const engine::DerBytes server = Der(leaf.get());
  const std::vector<engine::DerBytes> chain{Der(ca.get())};
  const vkx::TrustStore store = vkx::SystemTrustStore();
  QuietStderr quiet;
  for (auto _ : state) {
    benchmark::DoNotOptimize(vkx::ValidateCertificateChain(server, chain, store));
  }
}
BENCHMARK(BM_CertificateDecision)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
