#include "platform/xpc/BufferBudget.h"

namespace platform::xpc {

const std::shared_ptr<BufferBudget>& BufferBudget::shared() {
  // Leaked on purpose: connections may still hold buffers while static destructors run.
  static auto* budget =
      new std::shared_ptr<BufferBudget>(std::make_shared<BufferBudget>(kDefaultCapacity));
  return *budget;
}

} // namespace platform::xpc
