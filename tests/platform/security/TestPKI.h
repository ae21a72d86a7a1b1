#pragma once

#include "platform/security/CodeSigner.h"

#include <memory>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <string>

namespace platform::security::testing {

// A private temporary directory, removed with everything in it.
class TemporaryDirectory {
public:
  explicit TemporaryDirectory(const std::string& parent = "/tmp");
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

// Subject fields of a test certificate; empty fields are left out.
struct TestSubject {
  std::string commonName;
  std::string organizationalUnit;
  std::string organization;
  std::string country;
};

// A key and certificate, in memory and as PEM files.
struct TestIdentity {
  std::string keyPath;
  std::string certificatePath;
  std::shared_ptr<EVP_PKEY> key;
  std::shared_ptr<X509> certificate;

  SigningParameters signingParameters(const std::string& identifier) const {
    return {identifier, keyPath, certificatePath, std::nullopt};
  }
};

// Makes EC P-256 keys and X.509 certificates for tests, written under `directory`.
class TestPKI {
public:
  explicit TestPKI(std::string directory) : directory_(std::move(directory)) {}

  TestIdentity makeRoot(const std::string& name, const TestSubject& subject);
  TestIdentity makeIntermediate(const std::string& name, const TestSubject& subject,
                                const TestIdentity& issuer);
  // A code-signing leaf valid from `notBeforeDays` to `notAfterDays` relative to now.
  TestIdentity makeLeaf(const std::string& name, const TestSubject& subject,
                        const TestIdentity& issuer, long notBeforeDays = -1,
                        long notAfterDays = 30);

private:
  enum class Role { root, intermediate, leaf };
  TestIdentity make(const std::string& name, const TestSubject& subject, const TestIdentity* issuer,
                    Role role, long notBeforeDays, long notAfterDays);

  std::string directory_;
  long serial_ = 1;
};

} // namespace platform::security::testing
