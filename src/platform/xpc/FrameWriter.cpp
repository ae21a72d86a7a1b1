#include "platform/xpc/FrameWriter.h"

#include "platform/xpc/TransportError.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <vector>

namespace platform::xpc {

bool writeFrame(int socket, const FrameHeader& header, std::span<const uint8_t> payload,
                std::span<const int> descriptors, NSError* error) {
  uint8_t headerBytes[kFrameHeaderSize];
  encodeFrameHeader(header, headerBytes);
  iovec vectors[2] = {{headerBytes, kFrameHeaderSize},
                      {const_cast<uint8_t*>(payload.data()), payload.size()}};
  msghdr message{};
  message.msg_iov = vectors;
  message.msg_iovlen = payload.empty() ? 1 : 2;

  std::vector<uint8_t> control;
  if (!descriptors.empty()) {
    control.assign(CMSG_SPACE(sizeof(int) * descriptors.size()), 0);
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    cmsghdr* rights = CMSG_FIRSTHDR(&message);
    rights->cmsg_level = SOL_SOCKET;
    rights->cmsg_type = SCM_RIGHTS;
    rights->cmsg_len = CMSG_LEN(sizeof(int) * descriptors.size());
    std::memcpy(CMSG_DATA(rights), descriptors.data(), sizeof(int) * descriptors.size());
  }

  while (message.msg_iovlen > 0) {
    const ssize_t sent = ::sendmsg(socket, &message, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) {
        continue;
      }
      const bool timedOut = errno == EAGAIN || errno == EWOULDBLOCK;
      setError(error,
               makeTransportError(TransportErrorCode::ioFailure,
                                  timedOut ? "Peer stopped reading." : "Writing failed.", errno));
      return false;
    }
    // The descriptors went with the first bytes; the rest of the frame goes without them.
    message.msg_control = nullptr;
    message.msg_controllen = 0;
    size_t remaining = static_cast<size_t>(sent);
    while (message.msg_iovlen > 0 && remaining >= message.msg_iov->iov_len) {
      remaining -= message.msg_iov->iov_len;
      ++message.msg_iov;
      --message.msg_iovlen;
    }
    if (message.msg_iovlen > 0) {
      message.msg_iov->iov_base = static_cast<uint8_t*>(message.msg_iov->iov_base) + remaining;
      message.msg_iov->iov_len -= remaining;
    }
  }
  return true;
}

} // namespace platform::xpc
