#include "test_pki.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertFree {
  void operator()(X509* cert) const { X509_free(cert); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using CertPtr = std::unique_ptr<X509, CertFree>;

KeyPtr NewKey() { return KeyPtr(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256")); }

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  ASSERT_NE(ext, nullptr) << value;
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

// A certificate for `key` named `name`, issued by `issuer` (null: itself)
// and signed with `signer`; valid from `from` to `to` seconds from now.
CertPtr MakeCert(const std::string& name, EVP_PKEY* key, X509* issuer, EVP_PKEY* signer, bool ca,
                 long from = -3600, long to = 86400) {
  static long serial = 1;
  CertPtr cert(X509_new());
  X509_set_version(cert.get(), X509_VERSION_3);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial++);
  X509_NAME* subject = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0);
  X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : subject);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), from);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), to);
  X509_set_pubkey(cert.get(), key);
  X509* issuerCert = issuer ? issuer : cert.get();
  if (ca) {
    AddExtension(cert.get(), issuerCert, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert.get(), issuerCert, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    AddExtension(cert.get(), issuerCert, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(cert.get(), issuerCert, NID_ext_key_usage, "serverAuth");
  }
  EXPECT_GT(X509_sign(cert.get(), signer, EVP_sha256()), 0);
  return cert;
}

engine::DerBytes Der(X509* cert) {
  const int size = i2d_X509(cert, nullptr);
  engine::DerBytes der(static_cast<size_t>(size));
  unsigned char* out = der.data();
  i2d_X509(cert, &out);
  return der;
}

void WritePem(const std::string& path, X509* cert) {
  FILE* file = std::fopen(path.c_str(), "w");
  ASSERT_NE(file, nullptr);
  PEM_write_X509(file, cert);
  std::fclose(file);
}

}  // namespace

void TestPki::SetUpTestSuite() {
  dir_ = std::make_unique<TempDir>("vkx-cert-test");
  const std::string hashed = Dir() + "/hashed";
  ASSERT_EQ(mkdir(hashed.c_str(), 0700), 0);

  KeyPtr rootKey = NewKey();
  KeyPtr interKey = NewKey();
  KeyPtr leafKey = NewKey();
  KeyPtr rogueKey = NewKey();
  ASSERT_TRUE(rootKey && interKey && leafKey && rogueKey);
  CertPtr root = MakeCert("VKX Test Root", rootKey.get(), nullptr, rootKey.get(), true);
  CertPtr inter = MakeCert("VKX Test Intermediate", interKey.get(), root.get(), rootKey.get(), true);
  CertPtr leaf = MakeCert("kiosk.test", leafKey.get(), inter.get(), interKey.get(), false);
  CertPtr forged = MakeCert("kiosk.test", leafKey.get(), inter.get(), rogueKey.get(), false);
  CertPtr expired =
      MakeCert("kiosk.test", leafKey.get(), inter.get(), interKey.get(), false, -2 * 86400, -86400);
  CertPtr early =
      MakeCert("kiosk.test", leafKey.get(), inter.get(), interKey.get(), false, 86400, 2 * 86400);
  CertPtr self = MakeCert("self.kiosk.test", leafKey.get(), nullptr, leafKey.get(), false);
  // A server certificate used as if it were a CA.
  CertPtr underLeaf = MakeCert("sub.kiosk.test", rogueKey.get(), leaf.get(), leafKey.get(), false);

  der_ = std::make_unique<Ders>(Ders{Der(root.get()), Der(inter.get()), Der(leaf.get()),
                                     Der(forged.get()), Der(expired.get()), Der(early.get()),
                                     Der(self.get()), Der(underLeaf.get())});
  WritePem(RootFile(), root.get());
  WritePem(Dir() + "/intermediate.pem", inter.get());
  WritePem(Dir() + "/self.pem", self.get());
  char name[32];
  std::snprintf(name, sizeof name, "%08lx.0",
                X509_NAME_hash_ex(X509_get_subject_name(root.get()), nullptr, nullptr, nullptr));
  WritePem(hashed + "/" + name, root.get());
}
