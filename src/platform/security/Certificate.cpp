#include "platform/security/Certificate.h"

#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509v3.h>

namespace platform::security {

int subjectFieldNid(std::string_view fieldName) {
  if (fieldName.empty() || fieldName.size() > 64) {
    return 0;
  }
  std::string name(fieldName);
  if (name == "EMAIL" || name == "email") {
    return NID_pkcs9_emailAddress;
  }
  if (name == "STREET") {
    return NID_streetAddress;
  }
  int nid = OBJ_sn2nid(name.c_str());
  if (nid == NID_undef) {
    nid = OBJ_ln2nid(name.c_str());
  }
  return nid;
}

Certificate Certificate::of(X509* certificate) {
  Certificate out;
  X509_NAME* name = X509_get_subject_name(certificate);
  int count = name != nullptr ? X509_NAME_entry_count(name) : 0;
  for (int index = 0; index < count; ++index) {
    X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, index);
    int nid = OBJ_obj2nid(X509_NAME_ENTRY_get_object(entry));
    unsigned char* utf8 = nullptr;
    int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(entry));
    if (length < 0) {
      continue;
    }
    const char* shortName = nid != NID_undef ? OBJ_nid2sn(nid) : "";
    out.subject.push_back({nid, shortName != nullptr ? shortName : "",
                           std::string(reinterpret_cast<char*>(utf8), size_t(length))});
    OPENSSL_free(utf8);
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  if (X509_digest(certificate, EVP_sha1(), digest, &digestLength) == 1) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (unsigned int index = 0; index < digestLength; ++index) {
      out.sha1Hex.push_back(kDigits[digest[index] >> 4]);
      out.sha1Hex.push_back(kDigits[digest[index] & 0xF]);
    }
  }
  out.selfSigned = X509_check_issued(certificate, certificate) == X509_V_OK;
  return out;
}

std::vector<std::string> Certificate::subjectValues(std::string_view fieldName) const {
  std::vector<std::string> values;
  int nid = subjectFieldNid(fieldName);
  if (nid == 0) {
    return values;
  }
  for (const SubjectField& field : subject) {
    if (field.nid == nid) {
      values.push_back(field.value);
    }
  }
  return values;
}

std::optional<std::string> Certificate::firstSubjectValue(std::string_view fieldName) const {
  auto values = subjectValues(fieldName);
  if (values.empty()) {
    return std::nullopt;
  }
  return values.front();
}

std::string Certificate::subjectSummary() const {
  std::string text;
  for (const SubjectField& field : subject) {
    if (!text.empty()) {
      text += ", ";
    }
    text += field.shortName + "=" + field.value;
  }
  return text;
}

} // namespace platform::security
