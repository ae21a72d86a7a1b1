#include "platform/archive/Object.h"

#include <algorithm>

namespace platform::archive {

ObjectClass::ObjectClass(std::string name, const ObjectClass* superclass, bool supportsSecureCoding,
                         Decoder initWithCoder)
    : name_(std::move(name)), superclass_(superclass), supportsSecureCoding_(supportsSecureCoding),
      initWithCoder_(std::move(initWithCoder)) {}

const ObjectClass& ObjectClass::NSObject() {
  static const ObjectClass root("NSObject", nullptr, false, nullptr);
  return root;
}

bool ObjectClass::isSubclassOfClass(const ObjectClass& other) const {
  if (&other == &NSObject()) {
    return true;
  }
  for (const ObjectClass* current = this; current != nullptr; current = current->superclass_) {
    if (current == &other) {
      return true;
    }
  }
  return false;
}

bool ObjectClass::isAllowedBy(const ClassSet& allowed) const {
  return std::any_of(allowed.begin(), allowed.end(), [this](const ObjectClass* candidate) {
    return candidate != nullptr && isSubclassOfClass(*candidate);
  });
}

std::vector<std::string> ObjectClass::classChain() const {
  std::vector<std::string> chain;
  for (const ObjectClass* current = this; current != nullptr; current = current->superclass_) {
    chain.push_back(current->name_);
  }
  if (chain.back() != NSObject().name()) {
    chain.push_back(NSObject().name());
  }
  return chain;
}

ObjectPtr ObjectClass::initWithCoder(KeyedUnarchiver& coder) const {
  return initWithCoder_ ? initWithCoder_(coder) : nullptr;
}

std::string Object::description() const {
  return "<" + objectClass().name() + ">";
}

bool objectsEqual(const ObjectPtr& a, const ObjectPtr& b) {
  if (a == nullptr || b == nullptr) {
    return a == b;
  }
  return a == b || a->isEqual(*b);
}

size_t objectHash(const ObjectPtr& object) {
  return object != nullptr ? object->hash() : 0;
}

} // namespace platform::archive
