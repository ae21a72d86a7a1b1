#pragma once

#include <memory>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <string>

namespace platform::security {

// Owning handles for the OpenSSL objects this layer uses.
struct OpenSSLFree {
  void operator()(BIO* bio) const { BIO_free_all(bio); }
  void operator()(CMS_ContentInfo* cms) const { CMS_ContentInfo_free(cms); }
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
  void operator()(X509* certificate) const { X509_free(certificate); }
  void operator()(X509_STORE* store) const { X509_STORE_free(store); }
  void operator()(X509_STORE_CTX* context) const { X509_STORE_CTX_free(context); }
  void operator()(STACK_OF(X509) * certificates) const {
    sk_X509_pop_free(certificates, X509_free);
  }
};

using BioPtr = std::unique_ptr<BIO, OpenSSLFree>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, OpenSSLFree>;
using DigestContextPtr = std::unique_ptr<EVP_MD_CTX, OpenSSLFree>;
using KeyPtr = std::unique_ptr<EVP_PKEY, OpenSSLFree>;
using X509Ptr = std::unique_ptr<X509, OpenSSLFree>;
using X509StorePtr = std::unique_ptr<X509_STORE, OpenSSLFree>;
using X509StoreContextPtr = std::unique_ptr<X509_STORE_CTX, OpenSSLFree>;
using X509StackPtr = std::unique_ptr<STACK_OF(X509), OpenSSLFree>;

// The oldest queued OpenSSL error as text (clearing the queue), or `fallback` when none.
inline std::string takeOpenSSLError(const std::string& fallback) {
  unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) {
    return fallback;
  }
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return fallback + ": " + text;
}

} // namespace platform::security
