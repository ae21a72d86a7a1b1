#pragma once

#include "platform/archive/Object.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The platform's standard collections. Their contents are decoded with the allowed classes
// that admitted the collection itself, as the platform does.
namespace platform::archive {

// NSArray: {"NS.objects": [references]}. Elements are never null.
class NSArray final : public Object {
public:
  explicit NSArray(std::vector<ObjectPtr> objects) : objects_(std::move(objects)) {}
  static std::shared_ptr<NSArray> make(std::vector<ObjectPtr> objects);
  // An array of strings, the common case.
  static std::shared_ptr<NSArray> makeWithStrings(const std::vector<std::string>& strings);
  static const ObjectClass& classObject();
  static const ObjectClass& mutableClassObject();

  const std::vector<ObjectPtr>& objects() const { return objects_; }
  size_t count() const { return objects_.size(); }
  // The elements as strings; none when one is not a string.
  std::optional<std::vector<std::string>> strings() const;
  // The elements of class `T`; none when one is of another class.
  template <class T> std::optional<std::vector<std::shared_ptr<T>>> objectsOfClass() const;

  const ObjectClass& objectClass() const override { return classObject(); }
  void encodeWithCoder(KeyedArchiver& coder) const override;
  bool isEqual(const Object& other) const override;
  size_t hash() const override { return objects_.size(); }
  std::string description() const override;

private:
  std::vector<ObjectPtr> objects_;
};

// NSSet: {"NS.objects": [references]}. Equal elements are kept once.
class NSSet final : public Object {
public:
  explicit NSSet(const std::vector<ObjectPtr>& objects);
  static std::shared_ptr<NSSet> make(const std::vector<ObjectPtr>& objects);
  static const ObjectClass& classObject();
  static const ObjectClass& mutableClassObject();

  const std::vector<ObjectPtr>& objects() const { return objects_; }
  size_t count() const { return objects_.size(); }
  bool containsObject(const Object& object) const;

  const ObjectClass& objectClass() const override { return classObject(); }
  void encodeWithCoder(KeyedArchiver& coder) const override;
  bool isEqual(const Object& other) const override;
  size_t hash() const override { return objects_.size(); }

private:
  std::vector<ObjectPtr> objects_;
};

// NSDictionary: {"NS.keys": [references], "NS.objects": [references]}, pairwise. Keys are
// unique (a later equal key replaces the earlier value); insertion order is kept.
class NSDictionary final : public Object {
public:
  using Entry = std::pair<ObjectPtr, ObjectPtr>;

  explicit NSDictionary(const std::vector<Entry>& entries);
  static std::shared_ptr<NSDictionary> make(const std::vector<Entry>& entries);
  static const ObjectClass& classObject();
  static const ObjectClass& mutableClassObject();

  const std::vector<Entry>& entries() const { return entries_; }
  size_t count() const { return entries_.size(); }
  ObjectPtr objectForKey(const Object& key) const;
  // The value under the string key `key`; null when absent.
  ObjectPtr objectForKey(std::string_view key) const;

  const ObjectClass& objectClass() const override { return classObject(); }
  void encodeWithCoder(KeyedArchiver& coder) const override;
  bool isEqual(const Object& other) const override;
  size_t hash() const override { return entries_.size(); }
  std::string description() const override;

private:
  std::vector<Entry> entries_;
};

template <class T> std::optional<std::vector<std::shared_ptr<T>>> NSArray::objectsOfClass() const {
  std::vector<std::shared_ptr<T>> typed;
  typed.reserve(objects_.size());
  for (const auto& object : objects_) {
    auto element = std::dynamic_pointer_cast<T>(object);
    if (element == nullptr) {
      return std::nullopt;
    }
    typed.push_back(std::move(element));
  }
  return typed;
}

} // namespace platform::archive
