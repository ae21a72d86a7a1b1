#include "ArchiveRendering.h"

#include "platform/archive/BinaryPropertyList.h"
#include "platform/archive/Values.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/UUID.h"
#include "platform/xpc/TransportOptions.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace agentctl {

using platform::archive::BinaryPropertyList;
using platform::json::Value;
using Node = BinaryPropertyList::Ref;
using Type = BinaryPropertyList::Type;

namespace {

// Objects nested in objects (property-list containers inside one object do not count: their
// nesting is bounded when the bytes are read). Deep enough for any task result; the node
// budget (that of the property-list reader) keeps shared sub-graphs from expanding into
// exponential output.
constexpr size_t kMaxDepth = 64;

} // namespace

struct ArchiveRendering::State {
  BinaryPropertyList plist;
  Node objects;
  uint64_t rootUID = 0;
  mutable size_t nodes = 0;

  Value renderReference(uint64_t uid, size_t depth) const;
  Value renderNode(const Node& node, size_t depth) const;
  Value renderObject(const Node& object, std::string_view className, size_t depth) const;
  Value renderMembers(const Node& object, size_t depth) const;
  std::string_view className(const Node& object) const;
  void count(size_t depth) const;

  // The same JSON text as writing what the render functions above return, streamed into `out`
  // without building it first: a result of a million entries would otherwise take millions of
  // small values.
  void writeReference(uint64_t uid, size_t depth, std::string& out) const;
  void writeNode(const Node& node, size_t depth, std::string& out) const;
  void writeObject(const Node& object, std::string_view className, size_t depth,
                   std::string& out) const;
  // Writes the members of a dictionary node as a JSON object: keys sorted, the last of equal
  // keys kept (as a JSON value's object has them), "$class" left out when `skipClass`.
  void writeMembers(const Node& dictionary, bool skipClass, size_t depth, std::string& out) const;
};

void ArchiveRendering::State::count(size_t depth) const {
  if (depth > kMaxDepth) {
    throw std::runtime_error("the result is nested too deeply to print");
  }
  if (++nodes > receivedResultLimits().maxPropertyListNodes) {
    throw std::runtime_error("the result is too large to print");
  }
}

Value ArchiveRendering::State::renderReference(uint64_t uid, size_t depth) const {
  if (uid == 0 || uid >= objects.arraySize()) {
    return nullptr; // "$null"; references out of range were refused when decoding
  }
  const Node entry = objects.arrayItem(uid);
  if (entry.is(Type::dictionary) && !entry["$class"].isNull()) {
    return renderObject(entry, className(entry), depth);
  }
  return renderNode(entry, depth);
}

std::string_view ArchiveRendering::State::className(const Node& object) const {
  auto uid = object["$class"].uidValue();
  if (!uid || *uid >= objects.arraySize()) {
    return {};
  }
  return objects.arrayItem(*uid)["$classname"].stringValue().value_or(std::string_view());
}

Value ArchiveRendering::State::renderNode(const Node& node, size_t depth) const {
  if (node.isNull()) {
    return nullptr;
  }
  count(depth);
  switch (node.type().value_or(Type::boolean)) {
  case Type::boolean:
    return node.boolValue().value_or(false);
  case Type::integer:
    return static_cast<int64_t>(node.integerValue().value_or(0));
  case Type::real:
  case Type::date:
    return node.realValue().value_or(0);
  case Type::data: {
    auto data = node.dataValue().value_or(std::string_view());
    return platform::base64Encode(data);
  }
  case Type::string:
    return std::string(node.stringValue().value_or(std::string_view()));
  case Type::uid:
    return renderReference(node.uidValue().value_or(0), depth + 1);
  case Type::array: {
    Value array = Value::array();
    for (size_t index = 0; index < node.arraySize(); ++index) {
      array.push_back(renderNode(node.arrayItem(index), depth));
    }
    return array;
  }
  case Type::dictionary: {
    Value object = Value::object();
    for (size_t index = 0; index < node.dictionarySize(); ++index) {
      auto key = node.dictionaryKey(index).stringValue().value_or(std::string_view());
      object[std::string(key)] = renderNode(node.dictionaryValue(index), depth);
    }
    return object;
  }
  }
  return nullptr;
}

Value ArchiveRendering::State::renderMembers(const Node& object, size_t depth) const {
  Value members = Value::object();
  for (size_t index = 0; index < object.dictionarySize(); ++index) {
    auto key = object.dictionaryKey(index).stringValue().value_or(std::string_view());
    if (key != "$class") {
      members[std::string(key)] = renderNode(object.dictionaryValue(index), depth);
    }
  }
  return members;
}

Value ArchiveRendering::State::renderObject(const Node& object, std::string_view name,
                                            size_t depth) const {
  count(depth);
  if (name == "NSNull") {
    return nullptr;
  }
  if (name == "NSMutableString") {
    return renderNode(object["NS.string"], depth);
  }
  if (name == "NSMutableData") {
    return renderNode(object["NS.data"].isNull() ? object["NS.bytes"] : object["NS.data"], depth);
  }
  if (name == "NSDate") {
    return object["NS.time"].realValue().value_or(0);
  }
  if (name == "NSUUID") {
    auto bytes = object["NS.uuidbytes"].dataValue();
    if (bytes && bytes->size() == 16) {
      platform::UUID::Bytes uuid;
      std::copy(bytes->begin(), bytes->end(), uuid.begin());
      return platform::UUID(uuid).uuidString();
    }
  }
  if (name == "NSURL") {
    // Both members are references: the relative text and the base URL object (or $null).
    const Value relative = renderNode(object["NS.relative"], depth);
    const Value base = renderNode(object["NS.base"], depth);
    if (relative.is_string()) {
      std::optional<platform::URL> baseURL;
      if (base.is_string()) {
        baseURL = platform::URL::fromString(base.get<std::string>());
      }
      const auto& text = relative.get<std::string>();
      if (auto url = platform::archive::resolveURL(baseURL, text)) {
        return url->absoluteString();
      }
      return text;
    }
  }
  if (name == "NSArray" || name == "NSMutableArray" || name == "NSSet" || name == "NSMutableSet") {
    return renderNode(object["NS.objects"], depth);
  }
  if (name == "NSDictionary" || name == "NSMutableDictionary") {
    const Node keys = object["NS.keys"];
    const Node values = object["NS.objects"];
    Value dictionary = Value::object();
    for (size_t index = 0; index < keys.arraySize() && index < values.arraySize(); ++index) {
      Value key = renderNode(keys.arrayItem(index), depth);
      dictionary[key.is_string() ? key.get<std::string>() : platform::json::write(key)] =
          renderNode(values.arrayItem(index), depth);
    }
    return dictionary;
  }
  if (name == "NSError") {
    Value userInfo = renderNode(object["NSUserInfo"], depth);
    return Value{{"domain", renderNode(object["NSDomain"], depth)},
                 {"code", renderNode(object["NSCode"], depth)},
                 {"userInfo", userInfo.is_null() ? Value::object() : userInfo}};
  }
  return renderMembers(object, depth);
}

namespace {

bool isCollectionClass(std::string_view name) {
  return name == "NSArray" || name == "NSMutableArray" || name == "NSSet" || name == "NSMutableSet";
}

bool isDictionaryClass(std::string_view name) {
  return name == "NSDictionary" || name == "NSMutableDictionary";
}

// Classes with a form of their own: small, so rendered as a value and written.
bool hasSpecialForm(std::string_view name) {
  return name == "NSNull" || name == "NSMutableString" || name == "NSMutableData" ||
         name == "NSDate" || name == "NSUUID" || name == "NSURL" || name == "NSError";
}

// Writes `members` (key text, value) as a JSON object: sorted by key, the last of equal keys
// kept, each value written by `writeValue`.
template <class Member, class WriteValue>
void writeSortedObject(std::vector<Member>& members, std::string& out,
                       const WriteValue& writeValue) {
  std::stable_sort(members.begin(), members.end(),
                   [](const Member& a, const Member& b) { return a.key < b.key; });
  out.push_back('{');
  bool first = true;
  for (size_t index = 0; index < members.size(); ++index) {
    if (index + 1 < members.size() && members[index + 1].key == members[index].key) {
      continue; // a later member has the same key
    }
    if (!first) {
      out.push_back(',');
    }
    first = false;
    platform::json::appendString(members[index].key, out);
    out.push_back(':');
    writeValue(members[index]);
  }
  out.push_back('}');
}

} // namespace

void ArchiveRendering::State::writeReference(uint64_t uid, size_t depth, std::string& out) const {
  if (uid == 0 || uid >= objects.arraySize()) {
    out += "null";
    return;
  }
  const Node entry = objects.arrayItem(uid);
  if (entry.is(Type::dictionary) && !entry["$class"].isNull()) {
    writeObject(entry, className(entry), depth, out);
    return;
  }
  writeNode(entry, depth, out);
}

void ArchiveRendering::State::writeNode(const Node& node, size_t depth, std::string& out) const {
  if (node.isNull()) {
    out += "null";
    return;
  }
  switch (node.type().value_or(Type::boolean)) {
  case Type::uid:
    count(depth);
    writeReference(node.uidValue().value_or(0), depth + 1, out);
    return;
  case Type::array:
    count(depth);
    out.push_back('[');
    for (size_t index = 0; index < node.arraySize(); ++index) {
      if (index > 0) {
        out.push_back(',');
      }
      writeNode(node.arrayItem(index), depth, out);
    }
    out.push_back(']');
    return;
  case Type::dictionary:
    count(depth);
    writeMembers(node, false, depth, out);
    return;
  case Type::string:
    count(depth);
    platform::json::appendString(node.stringValue().value_or(std::string_view()), out);
    return;
  default:
    platform::json::write(renderNode(node, depth), out);
    return;
  }
}

void ArchiveRendering::State::writeMembers(const Node& dictionary, bool skipClass, size_t depth,
                                           std::string& out) const {
  struct Member {
    std::string_view key;
    size_t index;
  };
  std::vector<Member> members;
  members.reserve(dictionary.dictionarySize());
  for (size_t index = 0; index < dictionary.dictionarySize(); ++index) {
    auto key = dictionary.dictionaryKey(index).stringValue().value_or(std::string_view());
    if (!skipClass || key != "$class") {
      members.push_back({key, index});
    }
  }
  writeSortedObject(members, out, [&](const Member& member) {
    writeNode(dictionary.dictionaryValue(member.index), depth, out);
  });
}

void ArchiveRendering::State::writeObject(const Node& object, std::string_view name, size_t depth,
                                          std::string& out) const {
  if (hasSpecialForm(name)) {
    platform::json::write(renderObject(object, name, depth), out);
    return;
  }
  count(depth);
  if (isCollectionClass(name)) {
    writeNode(object["NS.objects"], depth, out);
    return;
  }
  if (!isDictionaryClass(name)) {
    writeMembers(object, true, depth, out);
    return;
  }
  const Node keys = object["NS.keys"];
  const Node values = object["NS.objects"];
  struct Member {
    std::string key;
    Node value;
  };
  std::vector<Member> members;
  for (size_t index = 0; index < keys.arraySize() && index < values.arraySize(); ++index) {
    Value key = renderNode(keys.arrayItem(index), depth);
    members.push_back({key.is_string() ? key.get<std::string>() : platform::json::write(key),
                       values.arrayItem(index)});
  }
  writeSortedObject(members, out,
                    [&](const Member& member) { writeNode(member.value, depth, out); });
}

const platform::archive::ArchiveLimits& receivedResultLimits() {
  static const auto limits = platform::archive::ArchiveLimits::forReceivedResults(
      platform::xpc::TransportLimits{}.maxPayloadSize);
  return limits;
}

ArchiveRendering::ArchiveRendering(std::unique_ptr<State> state) : state_(std::move(state)) {}
ArchiveRendering::ArchiveRendering(ArchiveRendering&&) noexcept = default;
ArchiveRendering::~ArchiveRendering() = default;

std::optional<ArchiveRendering> ArchiveRendering::read(std::span<const uint8_t> archive,
                                                       std::string& fault) {
  auto plist = BinaryPropertyList::read(archive, receivedResultLimits(), fault);
  if (!plist) {
    return std::nullopt;
  }
  auto state = std::make_unique<State>(State{std::move(*plist), {}, 0, 0});
  const Node top = state->plist.top();
  state->objects = top["$objects"];
  auto root = top["$top"]["root"].uidValue();
  if (!state->objects.is(Type::array) || !root || *root == 0 ||
      *root >= state->objects.arraySize()) {
    fault = "not a keyed archive";
    return std::nullopt;
  }
  state->rootUID = *root;
  return ArchiveRendering(std::move(state));
}

const BinaryPropertyList& ArchiveRendering::propertyList() const {
  return state_->plist;
}

void ArchiveRendering::writeRootMember(std::string_view key, std::string& out) const {
  state_->nodes = 0;
  const Node root = state_->objects.arrayItem(state_->rootUID);
  state_->writeNode(root[key], 0, out);
}

} // namespace agentctl
