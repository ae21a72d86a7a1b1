#pragma once

#include <openssl/x509.h>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::security {

// One attribute of a certificate subject, e.g. OU = "Q4W7ZK2M9T".
struct SubjectField {
  int nid = 0;           // OpenSSL's object number
  std::string shortName; // "CN", "O", "OU", "C", "L", "ST", "emailAddress", ...
  std::string value;     // UTF-8
};

// What the requirement language and the signing information read from a certificate.
struct Certificate {
  std::vector<SubjectField> subject; // in the order of the certificate
  std::string sha1Hex;               // SHA-1 of the DER form, lower-case hex
  bool selfSigned = false;

  static Certificate of(X509* certificate);

  // Every value of the subject field named `fieldName` (a short or long OpenSSL name, or one
  // of the aliases "EMAIL" and "STREET"); empty for an unknown name.
  std::vector<std::string> subjectValues(std::string_view fieldName) const;
  std::optional<std::string> firstSubjectValue(std::string_view fieldName) const;
  // "CN=..., OU=..., O=..., C=..." for display.
  std::string subjectSummary() const;
};

// OpenSSL's object number for a subject field name as the requirement language writes it
// ("subject.OU" passes "OU"); 0 when unknown.
int subjectFieldNid(std::string_view fieldName);

} // namespace platform::security
