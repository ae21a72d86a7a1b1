#pragma once

#include "platform/xpc/UniqueFd.h"

#include <memory>
#include <vector>

namespace ipc {

// Descriptors that travel with the reply to the request being handled on this thread. The
// connection opens a scope around the delivery of each incoming request; an operation that
// hands an open file to the client attaches it, and the reply frame carries it (SCM_RIGHTS).
// Outside such a scope nothing can be attached. On the sending side the descriptors that came
// with a reply are current while the reply is delivered to the send's subscriber, which takes
// them with take().
class ReplyAttachments {
public:
  using Descriptors = std::vector<platform::xpc::UniqueFd>;

  // Attaches `fd` to the current request's reply; false (and `fd` closed) outside a request.
  static bool attach(platform::xpc::UniqueFd fd);
  // Whether a request is being handled on this thread.
  static bool available();
  // Takes the current descriptors (empty outside a scope).
  static Descriptors take();

  // Makes `descriptors` the current attachments of this thread while the scope lives.
  class Scope {
  public:
    explicit Scope(std::shared_ptr<Descriptors> descriptors);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

  private:
    std::shared_ptr<Descriptors> previous_;
  };
};

} // namespace ipc
