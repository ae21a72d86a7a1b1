#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace platform::archive {

class KeyedArchiver;
class KeyedUnarchiver;
class Object;
class ObjectClass;

using ObjectPtr = std::shared_ptr<Object>;
// The classes that a decoding call admits; a class is admitted when it is one of them or a
// subclass of one of them.
using ClassSet = std::vector<const ObjectClass*>;

// The description of an archivable class: its archived name, its superclass, whether it
// supports secure coding, and its `initWithCoder:` (a function that decodes an instance from
// the coder, or returns null when the archived fields are not acceptable).
class ObjectClass {
public:
  using Decoder = std::function<ObjectPtr(KeyedUnarchiver&)>;

  // `superclass` null means the class derives directly from NSObject.
  ObjectClass(std::string name, const ObjectClass* superclass, bool supportsSecureCoding,
              Decoder initWithCoder);
  ObjectClass(const ObjectClass&) = delete;
  ObjectClass& operator=(const ObjectClass&) = delete;

  // The root class, "NSObject". It decodes nothing.
  static const ObjectClass& NSObject();

  const std::string& name() const { return name_; }
  const ObjectClass* superclass() const { return superclass_; }
  bool supportsSecureCoding() const { return supportsSecureCoding_; }
  // True for this class and for every class it derives from.
  bool isSubclassOfClass(const ObjectClass& other) const;
  // True when this class is admitted by `allowed`.
  bool isAllowedBy(const ClassSet& allowed) const;
  // The archived class chain: the name, each superclass name, and "NSObject" last.
  std::vector<std::string> classChain() const;
  ObjectPtr initWithCoder(KeyedUnarchiver& coder) const;

private:
  std::string name_;
  const ObjectClass* superclass_;
  bool supportsSecureCoding_;
  Decoder initWithCoder_;
};

// Base of every archivable object. Subclasses report their class and write their fields in
// `encodeWithCoder`; equality and hash default to identity.
class Object : public std::enable_shared_from_this<Object> {
public:
  virtual ~Object() = default;

  virtual const ObjectClass& objectClass() const = 0;
  virtual void encodeWithCoder(KeyedArchiver& coder) const = 0;

  virtual bool isEqual(const Object& other) const { return this == &other; }
  virtual size_t hash() const { return std::hash<const void*>()(this); }
  // A short human-readable form, for logs and failure messages.
  virtual std::string description() const;

  bool isKindOfClass(const ObjectClass& objectClass) const {
    return this->objectClass().isSubclassOfClass(objectClass);
  }
};

// Null-safe equality of two optional objects: both absent, or both present and equal.
bool objectsEqual(const ObjectPtr& a, const ObjectPtr& b);
// The hash of an optional object; 0 when absent.
size_t objectHash(const ObjectPtr& object);

} // namespace platform::archive
