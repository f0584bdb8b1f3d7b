#include "request/cert_validation.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "log_capture.h"
#include "test_pki.h"

namespace {

class CertTest : public TestPki {
 protected:
  // The verdict, with what it logged as errors.
  static bool Validate(const engine::DerBytes& server, const std::vector<engine::DerBytes>& chain,
                       const vkx::TrustStore& store, std::string* err) {
    LogCapture log;
    const bool result = vkx::ValidateCertificateChain(server, chain, store);
    *err = log.TakeError();
    return result;
  }
};

TEST_F(CertTest, LeafThroughIntermediateToTrustedRoot) {
  const Ders& c = Certs();
  std::string err;
  EXPECT_TRUE(Validate(c.leaf, {c.intermediate}, RootStore(), &err));
  EXPECT_EQ(err, kTraceOk);
  EXPECT_TRUE(Validate(c.leaf, {c.intermediate, c.root}, RootStore(), &err));
  EXPECT_TRUE(Validate(c.leaf, {c.intermediate}, {"", Dir() + "/hashed"}, &err));
  EXPECT_EQ(err, kTraceOk);
  EXPECT_TRUE(Validate(c.leaf, {c.intermediate}, {Dir() + "/missing.pem", Dir() + "/hashed"}, &err));

  LogCapture log;
  EXPECT_TRUE(vkx::ValidateWithOpenSSL(c.leaf, {c.intermediate}, RootStore()));
  EXPECT_EQ(log.TakeError(),
            "ValidateWithOpenSSL\nValidateWithOpenSSL, result: 1\n");
}

TEST_F(CertTest, ChainMustReachATrustedRoot) {
  const Ders& c = Certs();
  std::string err;
  // The intermediate is not fetched from anywhere.
  EXPECT_FALSE(Validate(c.leaf, {}, RootStore(), &err));
  EXPECT_EQ(err, kTraceRefused);
  // A root sent by the server is not trusted for being sent.
  EXPECT_FALSE(Validate(c.leaf, {c.intermediate, c.root}, {"", ""}, &err));
  EXPECT_EQ(err, kTraceRefused);
  EXPECT_FALSE(Validate(c.leaf, {c.intermediate}, {Dir() + "/missing.pem", Dir() + "/nowhere"}, &err));
  // Trusting the intermediate alone is not a complete chain.
  EXPECT_FALSE(Validate(c.leaf, {}, {Dir() + "/intermediate.pem", ""}, &err));
  EXPECT_EQ(err, kTraceRefused);
}

TEST_F(CertTest, SelfSignedLeafOnlyWhenTrustedItself) {
  const Ders& c = Certs();
  std::string err;
  EXPECT_FALSE(Validate(c.self, {}, RootStore(), &err));
  EXPECT_EQ(err, kTraceRefused);
  EXPECT_FALSE(Validate(c.self, {c.self}, RootStore(), &err));
  EXPECT_TRUE(Validate(c.self, {}, {Dir() + "/self.pem", ""}, &err));
  EXPECT_EQ(err, kTraceOk);
}

TEST_F(CertTest, OnlyCertificationAuthoritiesIssue) {
  const Ders& c = Certs();
  std::string err;
  EXPECT_FALSE(Validate(c.under_leaf, {c.leaf, c.intermediate}, RootStore(), &err));
  EXPECT_EQ(err, kTraceRefused);
}

TEST_F(CertTest, ForgedExpiredAndNotYetValidLeavesRefused) {
  const Ders& c = Certs();
  std::string err;
  // Names the genuine intermediate as issuer but is signed by another key.
  EXPECT_FALSE(Validate(c.forged, {c.intermediate}, RootStore(), &err));
  EXPECT_EQ(err, kTraceRefused);
  EXPECT_FALSE(Validate(c.expired, {c.intermediate}, RootStore(), &err));
  EXPECT_EQ(err, kTraceRefused);
  EXPECT_FALSE(Validate(c.early, {c.intermediate}, RootStore(), &err));
  EXPECT_EQ(err, kTraceRefused);
}

// What the status page tells of a refusal comes from OpenSSL's verdict.
TEST_F(CertTest, RefusalSaysWhy) {
  const Ders& c = Certs();
  using vkx::CertProblem;
  for (const auto& [server, chain, expected] :
       std::vector<std::tuple<engine::DerBytes, std::vector<engine::DerBytes>, CertProblem>>{
           {c.leaf, {c.intermediate}, CertProblem::None},
           {c.self, {}, CertProblem::SelfSigned},
           {c.leaf, {}, CertProblem::UnknownAuthority},
           {c.expired, {c.intermediate}, CertProblem::Expired},
           {c.early, {c.intermediate}, CertProblem::NotYetValid},
           {{0x30, 0x03, 0x02, 0x01, 0x00}, {}, CertProblem::Invalid}}) {
    LogCapture log;
    CertProblem problem = CertProblem::Revoked;
    vkx::ValidateCertificateChain(server, chain, RootStore(), &problem);
    EXPECT_EQ(problem, expected) << static_cast<int>(expected);
  }
}

TEST_F(CertTest, UnparseableCertificatesRefused) {
  const Ders& c = Certs();
  engine::DerBytes trailing = c.intermediate;
  trailing.push_back(0);
  engine::DerBytes truncated(c.intermediate.begin(), c.intermediate.end() - 1);
  const engine::DerBytes garbage = {0x30, 0x82, 0x01, 0x00, 'n', 'o', 't', ' ', 'D', 'E', 'R'};
  engine::DerBytes leafTrailing = c.leaf;
  leafTrailing.insert(leafTrailing.end(), c.intermediate.begin(), c.intermediate.end());

  const std::vector<std::pair<engine::DerBytes, std::vector<engine::DerBytes>>> cases = {
      // A bad entry next to an otherwise complete chain.
      {c.leaf, {c.intermediate, garbage}},
      {c.leaf, {c.intermediate, {}}},
      {c.leaf, {trailing}},
      {c.leaf, {c.intermediate, trailing}},
      {c.leaf, {truncated}},
      // A bad server certificate.
      {{}, {c.intermediate}},
      {garbage, {c.intermediate}},
      {leafTrailing, {c.intermediate}},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    std::string err;
    EXPECT_FALSE(Validate(cases[i].first, cases[i].second, RootStore(), &err));
    EXPECT_EQ(err.rfind("ValidateCertificateChain\nValidateWithOpenSSL\n", 0), 0u) << err;
    EXPECT_EQ(err.find("result: 1"), std::string::npos) << err;
  }
  // The same chain without the bad entries is good.
  std::string err;
  EXPECT_TRUE(Validate(c.leaf, {c.intermediate}, RootStore(), &err));
}

}  // namespace
