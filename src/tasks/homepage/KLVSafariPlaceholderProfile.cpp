#include "tasks/homepage/KLVSafariPlaceholderProfile.h"

#include <cerrno>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace tasks {
namespace {

constexpr const char* kProfileUUID = "37F319A2-04C0-419B-AF09-1D3569B8DC1F";
constexpr const char* kPayloadUUID = "05EDD60C-7D08-4E6F-8AA0-6E49B09D9BC9";
constexpr const char* kDirectoryTemplate = "/KLVSafariHomepage.XXXXXX";

platform::PropertyList placeholderPayload() {
  auto payload = platform::PropertyList::dictionary();
  payload.setBool("DummyOption", true);
  payload.setString("PayloadDescription", "Configures nothing");
  payload.setString("PayloadDisplayName", "Dummy Payload");
  payload.setString("PayloadIdentifier", std::string("com.dummy.Creator.") + kProfileUUID +
                                             ".com.dummy.Config." + kPayloadUUID);
  payload.setString("PayloadOrganization", "Dummy Company");
  payload.setString("PayloadType", "com.dummy.Config");
  payload.setString("PayloadUUID", kPayloadUUID);
  payload.setUnsigned("PayloadVersion", 1);
  return payload;
}

} // namespace

platform::PropertyList safariPlaceholderProfile() {
  auto content = platform::PropertyList::array();
  content.append(placeholderPayload());
  auto profile = platform::PropertyList::dictionary();
  profile.set("PayloadContent", std::move(content));
  profile.setString("PayloadDescription", "Dummy profile to refresh update manage preferences");
  profile.setString("PayloadDisplayName", "Dummy Profile");
  profile.setString("PayloadIdentifier", std::string("com.dummy.Creator.") + kProfileUUID);
  profile.setString("PayloadOrganization", "Dummy Company");
  profile.setString("PayloadScope", "User");
  profile.setString("PayloadType", "Configuration");
  profile.setString("PayloadUUID", kProfileUUID);
  profile.setUnsigned("PayloadVersion", 1);
  return profile;
}

std::unique_ptr<KLVSafariPlaceholderProfileFile>
KLVSafariPlaceholderProfileFile::write(const KLVPlistService& plistService,
                                       const platform::URL& temporaryDirectory,
                                       platform::NSError* error) {
  const std::string pattern = temporaryDirectory.path() + kDirectoryTemplate;
  std::vector<char> directory(pattern.begin(), pattern.end());
  directory.push_back('\0');
  if (::mkdtemp(directory.data()) == nullptr) {
    platform::setError(error, platform::NSError::fileManagerError(errno, pattern, true));
    return nullptr;
  }
  std::unique_ptr<KLVSafariPlaceholderProfileFile> file(
      new KLVSafariPlaceholderProfileFile(directory.data()));
  if (!plistService.writeDictionary(safariPlaceholderProfile(), file->url(), error)) {
    return nullptr;
  }
  return file;
}

KLVSafariPlaceholderProfileFile::~KLVSafariPlaceholderProfileFile() {
  ::unlink(filePath().c_str());
  ::rmdir(directory_.c_str());
}

bool KLVSafariPlaceholderProfileFile::removeFile(platform::NSError* error) const {
  if (::unlink(filePath().c_str()) != 0) {
    platform::setError(error, platform::NSError::fileManagerError(errno, filePath(), true));
    return false;
  }
  return true;
}

} // namespace tasks
