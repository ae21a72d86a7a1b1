#include "TestPKI.h"

#include <cstdio>
#include <filesystem>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <stdexcept>
#include <stdlib.h>

namespace platform::security::testing {

namespace {

void require(bool condition, const char* what) {
  if (!condition) {
    throw std::runtime_error(std::string("test PKI: ") + what);
  }
}

void addName(X509_NAME* name, const char* field, const std::string& value) {
  if (!value.empty()) {
    X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1, 0);
  }
}

void addExtension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  require(extension != nullptr, "extension");
  X509_add_ext(certificate, extension, -1);
  X509_EXTENSION_free(extension);
}

template <typename Write> void writePem(const std::string& path, Write write) {
  FILE* file = std::fopen(path.c_str(), "w");
  require(file != nullptr, "open PEM file");
  bool written = write(file);
  std::fclose(file);
  require(written, "write PEM");
}

} // namespace

TemporaryDirectory::TemporaryDirectory(const std::string& parent) {
  std::string pattern = parent + "/security-tests-XXXXXX";
  require(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
  path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

TestIdentity TestPKI::makeRoot(const std::string& name, const TestSubject& subject) {
  return make(name, subject, nullptr, Role::root, -1, 3650);
}

TestIdentity TestPKI::makeIntermediate(const std::string& name, const TestSubject& subject,
                                       const TestIdentity& issuer) {
  return make(name, subject, &issuer, Role::intermediate, -1, 3650);
}

TestIdentity TestPKI::makeLeaf(const std::string& name, const TestSubject& subject,
                               const TestIdentity& issuer, long notBeforeDays, long notAfterDays) {
  return make(name, subject, &issuer, Role::leaf, notBeforeDays, notAfterDays);
}

TestIdentity TestPKI::make(const std::string& name, const TestSubject& subject,
                           const TestIdentity* issuer, Role role, long notBeforeDays,
                           long notAfterDays) {
  TestIdentity identity;
  identity.key.reset(EVP_EC_gen("P-256"), EVP_PKEY_free);
  require(identity.key != nullptr, "key generation");
  identity.certificate.reset(X509_new(), X509_free);
  X509* certificate = identity.certificate.get();
  X509_set_version(certificate, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial_++);
  X509_gmtime_adj(X509_getm_notBefore(certificate), notBeforeDays * 86400);
  X509_gmtime_adj(X509_getm_notAfter(certificate), notAfterDays * 86400);
  X509_set_pubkey(certificate, identity.key.get());
  X509_NAME* name_ = X509_get_subject_name(certificate);
  addName(name_, "CN", subject.commonName);
  addName(name_, "OU", subject.organizationalUnit);
  addName(name_, "O", subject.organization);
  addName(name_, "C", subject.country);
  X509* issuerCertificate = issuer != nullptr ? issuer->certificate.get() : certificate;
  EVP_PKEY* issuerKey = issuer != nullptr ? issuer->key.get() : identity.key.get();
  X509_set_issuer_name(certificate, X509_get_subject_name(issuerCertificate));
  if (role == Role::leaf) {
    addExtension(certificate, issuerCertificate, NID_basic_constraints, "critical,CA:FALSE");
    addExtension(certificate, issuerCertificate, NID_key_usage, "critical,digitalSignature");
    addExtension(certificate, issuerCertificate, NID_ext_key_usage, "codeSigning");
  } else {
    addExtension(certificate, issuerCertificate, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(certificate, issuerCertificate, NID_key_usage, "critical,keyCertSign,cRLSign");
  }
  addExtension(certificate, issuerCertificate, NID_subject_key_identifier, "hash");
  require(X509_sign(certificate, issuerKey, EVP_sha256()) > 0, "certificate signing");

  identity.keyPath = directory_ + "/" + name + ".key.pem";
  identity.certificatePath = directory_ + "/" + name + ".pem";
  writePem(identity.keyPath, [&](FILE* file) {
    return PEM_write_PrivateKey(file, identity.key.get(), nullptr, nullptr, 0, nullptr, nullptr) ==
           1;
  });
  writePem(identity.certificatePath,
           [&](FILE* file) { return PEM_write_X509(file, certificate) == 1; });
  return identity;
}

} // namespace platform::security::testing
