#include "ArchiveRendering.h"

#include "platform/archive/BinaryPropertyList.h"
#include "platform/archive/Values.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/UUID.h"
#include "platform/xpc/TransportOptions.h"

#include <algorithm>
#include <stdexcept>

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
  std::string className(const Node& object) const;
  void count(size_t depth) const;
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

std::string ArchiveRendering::State::className(const Node& object) const {
  auto uid = object["$class"].uidValue();
  if (!uid || *uid >= objects.arraySize()) {
    return {};
  }
  auto name = objects.arrayItem(*uid)["$classname"].stringValue();
  return name ? std::string(*name) : std::string();
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

Value ArchiveRendering::rootMember(std::string_view key) const {
  state_->nodes = 0;
  const Node root = state_->objects.arrayItem(state_->rootUID);
  return state_->renderNode(root[key], 0);
}

} // namespace agentctl
