#pragma once

#include "platform/archive/ArchiveLimits.h"
#include "platform/archive/BinaryPropertyList.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace agentctl {

// The limits for reading a task's result: as large as the agent's reply frame can carry.
const platform::archive::ArchiveLimits& receivedResultLimits();

// Renders the members of a keyed archive's root object as JSON, generically, from the archived
// keys themselves, so that a class added later needs no code here:
//   strings, numbers and Booleans as themselves; data as Base64 text; NSDate as seconds since
//   2001 (as this system's JSON writes dates); NSURL and NSUUID as their text; arrays and sets
//   as arrays; dictionaries as objects (non-text keys written as their JSON); NSError as
//   {"domain","code","userInfo"}; NSNull and nil as null; any other object as an object of its
//   archived keys (an NSFileHandle so shows its "NS.descriptorIndex").
// The archive should have been decoded with secure coding first; the rendering still bounds
// its depth and size on its own, as the bytes come from another process.
class ArchiveRendering {
public:
  // None with `fault` set when the bytes are not a readable keyed archive.
  static std::optional<ArchiveRendering> read(std::span<const uint8_t> archive, std::string& fault);
  ArchiveRendering(ArchiveRendering&&) noexcept;
  ~ArchiveRendering();

  // Appends the root object's member `key` rendered as JSON text (with sorted keys, as the
  // system's JSON writer puts them); null when it is absent or nil. Throws std::runtime_error
  // when the graph is deeper or larger than the bounds.
  void writeRootMember(std::string_view key, std::string& out) const;

  // The property list read from the archive, read with receivedResultLimits().
  const platform::archive::BinaryPropertyList& propertyList() const;

private:
  struct State;
  explicit ArchiveRendering(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

} // namespace agentctl
