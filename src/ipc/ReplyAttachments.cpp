#include "ipc/ReplyAttachments.h"

namespace ipc {
namespace {
thread_local std::shared_ptr<ReplyAttachments::Descriptors> current;
}

bool ReplyAttachments::attach(platform::xpc::UniqueFd fd) {
  if (!current) {
    return false;
  }
  current->push_back(std::move(fd));
  return true;
}

bool ReplyAttachments::available() {
  return current != nullptr;
}

ReplyAttachments::Descriptors ReplyAttachments::take() {
  return current ? std::exchange(*current, Descriptors()) : Descriptors();
}

ReplyAttachments::Scope::Scope(std::shared_ptr<Descriptors> descriptors)
    : previous_(std::exchange(current, std::move(descriptors))) {}

ReplyAttachments::Scope::~Scope() {
  current = std::move(previous_);
}

} // namespace ipc
