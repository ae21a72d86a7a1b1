#pragma once

#include "platform/foundation/PropertyList.h"
#include "platform/security/Certificate.h"
#include "platform/security/SecStatus.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform::security {

// What a requirement is evaluated against: facts of code whose signature has been verified.
struct RequirementContext {
  std::string identifier;
  const PropertyList* info = nullptr; // the code's embedded Info property list, if any
  std::vector<Certificate> chain;     // leaf first, root last
  bool anchorTrusted = false;         // the chain verified to one of our trust anchors
};

// A node of a compiled requirement.
struct RequirementNode {
  enum class Kind {
    always,
    never,
    negation,         // !child
    conjunction,      // child and child
    disjunction,      // child or child
    identifier,       // identifier "value"
    infoValue,        // info [key] op "value"
    anchorTrusted,    // anchor apple generic / anchor trusted
    certificateField, // certificate N[subject.FIELD] op "value"
    certificateHash,  // certificate N = H"sha1"
  };
  enum class Match { equal, less, lessOrEqual, greater, greaterOrEqual, exists };

  Kind kind = Kind::never;
  Match match = Match::equal;
  std::string key;          // info key or subject field name
  std::string value;        // compared value
  int certificateIndex = 0; // 0 leaf, 1 its issuer, ...; -1 root, -2 below it, ...
  std::vector<std::shared_ptr<const RequirementNode>> children;
};

// A compiled code requirement in the requirement language:
//   expr      := term { "or" term }          ("and" binds tighter than "or",
//   term      := factor { "and" factor }      "!" tighter than both)
//   factor    := "!" factor | "(" expr ")" | "always" | "never"
//              | "identifier" ["="] STRING
//              | "info" "[" KEY "]" MATCH
//              | "anchor" "apple" "generic" | "anchor" "trusted"
//              | "certificate" POS "[" "subject." FIELD "]" MATCH
//              | "certificate" POS "=" H"sha1-hex"
//   POS       := "leaf" | "root" | "anchor" | INTEGER
//   MATCH     := ("=" | "<" | "<=" | ">" | ">=") STRING | "exists"
// STRING is "quoted" (backslash escapes the next character) or a bare word. "=" compares
// strings exactly; the ordering operators compare as version numbers (compareNumerically).
class Requirement {
public:
  // Compiles `text`. errSecCSReqInvalid for text that does not parse; errSecCSReqUnsupported
  // for constructs of the platform's language that this layer does not evaluate (cdhash,
  // entitlement, notarized, "anchor apple", certificate extension fields, ...).
  static SecStatus compile(std::string_view text, Requirement& requirement);

  // Evaluates the requirement against verified facts of code.
  bool isSatisfiedBy(const RequirementContext& context) const;

  const std::string& text() const { return text_; }
  // A fully parenthesised form of the compiled tree, showing how it was grouped.
  std::string canonicalText() const;
  const RequirementNode* root() const { return root_.get(); }
  bool isCompiled() const { return root_ != nullptr; }

private:
  std::string text_;
  std::shared_ptr<const RequirementNode> root_;
};

} // namespace platform::security
