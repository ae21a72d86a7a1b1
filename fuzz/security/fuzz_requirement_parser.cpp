// Compiles arbitrary text as a code requirement. Whatever compiles is evaluated against fixed
// facts of signed code and against empty facts, and its canonical form is compiled and evaluated
// again. The canonical form is for display (keys are not re-quoted), so it need not round-trip.
#include "platform/security/Requirement.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using platform::PropertyList;
using platform::security::Certificate;
using platform::security::Requirement;
using platform::security::RequirementContext;
using platform::security::subjectFieldNid;

void check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

Certificate certificateWith(const std::string& commonName, const std::string& unit,
                            const std::string& sha1Hex) {
  Certificate certificate;
  certificate.subject.push_back({subjectFieldNid("CN"), "CN", commonName});
  if (!unit.empty()) {
    certificate.subject.push_back({subjectFieldNid("OU"), "OU", unit});
  }
  certificate.sha1Hex = sha1Hex;
  return certificate;
}

// Facts of a client that satisfies the main application's requirement.
struct Facts {
  PropertyList info = PropertyList::dictionary();
  RequirementContext context;

  Facts() {
    info.setString("CFBundleShortVersionString", "5.3.1");
    info.setString("CFBundleIdentifier", "com.quillby.Lumora5");
    context.identifier = "com.quillby.Lumora5";
    context.info = &info;
    context.chain = {
        certificateWith("Leaf", "Q4W7ZK2M9T", "00112233445566778899aabbccddeeff00112233"),
        certificateWith("Intermediate", "", "1111111111111111111111111111111111111111"),
        certificateWith("Root", "", "2222222222222222222222222222222222222222")};
    context.anchorTrusted = true;
  }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Facts facts;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  Requirement requirement;
  if (!Requirement::compile(text, requirement).ok()) {
    check(!requirement.isCompiled() || requirement.root() != nullptr);
    return 0;
  }
  check(requirement.isCompiled());
  requirement.isSatisfiedBy(facts.context);
  RequirementContext bare;
  requirement.isSatisfiedBy(bare);

  std::string canonical = requirement.canonicalText();
  Requirement again;
  if (Requirement::compile(canonical, again).ok()) {
    again.isSatisfiedBy(facts.context);
  }
  return 0;
}
