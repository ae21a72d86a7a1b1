#include "ArchiveRendering.h"

#include "platform/archive/BinaryPropertyList.h"
#include "platform/archive/Values.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/UUID.h"
#include "platform/xpc/TransportOptions.h"

#include <algorithm>
#include <optional>
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

// The text of a rendered JSON string, or none when `json` is some other JSON value.
std::optional<std::string> stringIn(const std::string& json) {
  if (json.empty() || json.front() != '"') {
    return std::nullopt;
  }
  return platform::json::parse(json).get<std::string>();
}

bool isCollectionClass(std::string_view name) {
  return name == "NSArray" || name == "NSMutableArray" || name == "NSSet" || name == "NSMutableSet";
}

bool isDictionaryClass(std::string_view name) {
  return name == "NSDictionary" || name == "NSMutableDictionary";
}

// Writes `members` (key text, value) as a JSON object the way the system's JSON writer writes
// one: sorted by key, the last of equal keys kept, each value written by `writeValue`.
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

// Renders straight into the output text, with no JSON value built on the way: a result of a
// million entries would otherwise take millions of small values.
struct ArchiveRendering::State {
  BinaryPropertyList plist;
  Node objects;
  uint64_t rootUID = 0;
  mutable size_t nodes = 0;

  void writeReference(uint64_t uid, size_t depth, std::string& out) const;
  void writeNode(const Node& node, size_t depth, std::string& out) const;
  void writeObject(const Node& object, std::string_view className, size_t depth,
                   std::string& out) const;
  // Writes the members of a dictionary node as a JSON object, "$class" left out when
  // `skipClass`.
  void writeMembers(const Node& dictionary, bool skipClass, size_t depth, std::string& out) const;
  // `node` rendered on its own.
  std::string rendered(const Node& node, size_t depth) const;
  std::string_view className(const Node& object) const;
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

std::string_view ArchiveRendering::State::className(const Node& object) const {
  auto uid = object["$class"].uidValue();
  if (!uid || *uid >= objects.arraySize()) {
    return {};
  }
  return objects.arrayItem(*uid)["$classname"].stringValue().value_or(std::string_view());
}

std::string ArchiveRendering::State::rendered(const Node& node, size_t depth) const {
  std::string text;
  writeNode(node, depth, text);
  return text;
}

void ArchiveRendering::State::writeReference(uint64_t uid, size_t depth, std::string& out) const {
  if (uid == 0 || uid >= objects.arraySize()) {
    out += "null"; // "$null"; references out of range were refused when decoding
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
  count(depth);
  switch (node.type().value_or(Type::boolean)) {
  case Type::boolean:
    out += node.boolValue().value_or(false) ? "true" : "false";
    return;
  case Type::integer:
    platform::json::write(Value(static_cast<int64_t>(node.integerValue().value_or(0))), out);
    return;
  case Type::real:
  case Type::date:
    platform::json::write(Value(node.realValue().value_or(0)), out);
    return;
  case Type::data:
    platform::json::appendString(
        platform::base64Encode(node.dataValue().value_or(std::string_view())), out);
    return;
  case Type::string:
    platform::json::appendString(node.stringValue().value_or(std::string_view()), out);
    return;
  case Type::uid:
    writeReference(node.uidValue().value_or(0), depth + 1, out);
    return;
  case Type::array:
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
    writeMembers(node, false, depth, out);
    return;
  }
  out += "null";
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
  count(depth);
  if (name == "NSNull") {
    out += "null";
    return;
  }
  if (name == "NSMutableString") {
    writeNode(object["NS.string"], depth, out);
    return;
  }
  if (name == "NSMutableData") {
    writeNode(object["NS.data"].isNull() ? object["NS.bytes"] : object["NS.data"], depth, out);
    return;
  }
  if (name == "NSDate") {
    platform::json::write(Value(object["NS.time"].realValue().value_or(0)), out);
    return;
  }
  if (name == "NSUUID") {
    auto bytes = object["NS.uuidbytes"].dataValue();
    if (bytes && bytes->size() == 16) {
      platform::UUID::Bytes uuid;
      std::copy(bytes->begin(), bytes->end(), uuid.begin());
      platform::json::appendString(platform::UUID(uuid).uuidString(), out);
      return;
    }
  }
  if (name == "NSURL") {
    // Both members are references: the relative text and the base URL object (or $null).
    const auto relative = stringIn(rendered(object["NS.relative"], depth));
    const auto base = stringIn(rendered(object["NS.base"], depth));
    if (relative) {
      std::optional<platform::URL> baseURL;
      if (base) {
        baseURL = platform::URL::fromString(*base);
      }
      const auto url = platform::archive::resolveURL(baseURL, *relative);
      platform::json::appendString(url ? url->absoluteString() : *relative, out);
      return;
    }
  }
  if (isCollectionClass(name)) {
    writeNode(object["NS.objects"], depth, out);
    return;
  }
  if (isDictionaryClass(name)) {
    // Keys of any kind: text keys as themselves, others as their JSON.
    const Node keys = object["NS.keys"];
    const Node values = object["NS.objects"];
    struct Member {
      std::string key;
      Node value;
    };
    std::vector<Member> members;
    for (size_t index = 0; index < keys.arraySize() && index < values.arraySize(); ++index) {
      std::string key = rendered(keys.arrayItem(index), depth);
      auto text = stringIn(key);
      members.push_back({text ? std::move(*text) : std::move(key), values.arrayItem(index)});
    }
    writeSortedObject(members, out,
                      [&](const Member& member) { writeNode(member.value, depth, out); });
    return;
  }
  if (name == "NSError") {
    const std::string userInfo = rendered(object["NSUserInfo"], depth);
    out += "{\"code\":";
    writeNode(object["NSCode"], depth, out);
    out += ",\"domain\":";
    writeNode(object["NSDomain"], depth, out);
    out += ",\"userInfo\":";
    out += userInfo == "null" ? "{}" : userInfo;
    out.push_back('}');
    return;
  }
  writeMembers(object, true, depth, out);
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
