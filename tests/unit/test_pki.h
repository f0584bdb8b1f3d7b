// One small PKI for a test suite: root -> intermediate -> leaf, plus the
// certificates that must be refused, as DER and as trust files.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/types.h"
#include "request/cert_validation.h"
#include "test_files.h"

// What the kiosk's own check of a chain logs, accepted and refused.
inline constexpr const char* kTraceOk =
    "ValidateCertificateChain\nValidateWithOpenSSL\nValidateWithOpenSSL, result: 1\n";
inline constexpr const char* kTraceRefused =
    "ValidateCertificateChain\nValidateWithOpenSSL\nValidateWithOpenSSL, result: 0\n";

class TestPki : public ::testing::Test {
 protected:
  struct Ders {
    engine::DerBytes root, intermediate, leaf, forged, expired, early, self, under_leaf;
  };

  static void SetUpTestSuite();
  static void TearDownTestSuite() {
    der_.reset();
    dir_.reset();
  }

  // Also holds intermediate.pem, self.pem and hashed/, a directory of the root.
  static const std::string& Dir() { return dir_->path(); }
  static std::string RootFile() { return Dir() + "/root.pem"; }
  static vkx::TrustStore RootStore() { return {RootFile(), ""}; }
  static const Ders& Certs() { return *der_; }

 private:
  static inline std::unique_ptr<TempDir> dir_;
  static inline std::unique_ptr<Ders> der_;
};
