#include "platform/xpc/Listener.h"

#include "platform/xpc/ServiceName.h"
#include "platform/xpc/SocketActivation.h"
#include "platform/xpc/TransportError.h"
#include "platform/xpc/WorkerPool.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <vector>

namespace platform::xpc {
namespace {

// Connections taken per wake-up before the listener yields to other sources.
constexpr int kAcceptsPerWakeup = 64;

NSError failure(std::string text, int errnoValue) {
  return makeTransportError(TransportErrorCode::listenerFailure, std::move(text), errnoValue);
}

// Whether a process accepts connections on the socket at `address`: a connection attempt that
// is not refused outright (a full backlog still means a live listener).
bool isListenedOn(const sockaddr_un& address) {
  UniqueFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!probe) {
    return false;
  }
  if (::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    return true;
  }
  return errno == EAGAIN || errno == EINPROGRESS;
}

} // namespace

// The part of the listener that the pool watches; it outlives the Listener while a pool thread
// still accepts on it.
class Listener::Acceptor : public EventSource, public std::enable_shared_from_this<Acceptor> {
public:
  // `ownFile`: the socket file this process made (removed on stop); none for a socket that the
  // service manager handed over, which stays its own and keeps listening after we stop.
  Acceptor(UniqueFd socket, std::optional<struct stat> ownFile, std::string path,
           TransportOptions options, ConnectionHandler handler, std::shared_ptr<WorkerPool> pool)
      : socket_(std::move(socket)), ownFile_(ownFile), path_(std::move(path)),
        options_(std::move(options)), handler_(std::move(handler)), pool_(std::move(pool)),
        spare_(::open("/dev/null", O_RDONLY | O_CLOEXEC)) {}

  void stop() {
    {
      std::lock_guard lock(mutex_);
      if (stopped_) {
        return;
      }
      stopped_ = true;
    }
    if (ownFile_) {
      ::shutdown(socket_.get(), SHUT_RDWR);
      // Remove the socket file only if it is still the one we made.
      struct stat status {};
      if (::lstat(path_.c_str(), &status) == 0 && S_ISSOCK(status.st_mode) &&
          status.st_dev == ownFile_->st_dev && status.st_ino == ownFile_->st_ino) {
        ::unlink(path_.c_str());
      }
    }
    std::shared_ptr<EventSource> registration = pool_->removeSource(*this);
  }

  void handleReadiness(uint32_t) override {
    std::vector<UniqueFd> accepted;
    for (int attempt = 0; attempt < kAcceptsPerWakeup; ++attempt) {
      // Blocking sockets: reads never block (MSG_DONTWAIT), writes may, bounded by a time-out.
      UniqueFd client(::accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (client) {
        accepted.push_back(std::move(client));
        continue;
      }
      if (errno == EINTR || errno == ECONNABORTED) {
        continue;
      }
      if (errno == EMFILE || errno == ENFILE) {
        refuseOneConnection();
        continue;
      }
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        log("Accepting failed: " + std::string(std::strerror(errno)));
      }
      break;
    }
    if (isStopped()) {
      return;
    }
    pool_->rearm(*this);
    for (UniqueFd& client : accepted) {
      NSError error;
      auto connection = Connection::adopt(std::move(client), options_, &error);
      if (!connection) {
        log("Dropped a connection: " + error.localizedDescription());
        continue;
      }
      if (handler_) {
        handler_(std::move(connection));
      }
    }
  }

private:
  bool isStopped() {
    std::lock_guard lock(mutex_);
    return stopped_;
  }

  // Out of descriptors, the pending connection would keep the socket readable forever: use the
  // spare descriptor to take it and close it at once.
  void refuseOneConnection() {
    spare_.reset();
    UniqueFd(::accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    spare_.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    log("Refused a connection: out of descriptors.");
  }

  void log(const std::string& text) const {
    if (options_.logger) {
      options_.logger(TransportLogLevel::error, "Listener " + path_ + ": " + text);
    }
  }

  UniqueFd socket_;
  std::optional<struct stat> ownFile_;
  std::string path_;
  TransportOptions options_;
  ConnectionHandler handler_;
  std::shared_ptr<WorkerPool> pool_;
  UniqueFd spare_;
  std::mutex mutex_;
  bool stopped_ = false;
};

std::unique_ptr<Listener> Listener::forService(std::string_view serviceName,
                                               TransportOptions options, NSError* error) {
  auto path = socketPathForService(serviceName, error);
  if (!path) {
    return nullptr;
  }
  return std::make_unique<Listener>(std::move(*path), std::move(options));
}

Listener::Listener(std::string socketPath, TransportOptions options)
    : socketPath_(std::move(socketPath)), options_(std::move(options)) {
  if (!options_.pool) {
    options_.pool = WorkerPool::shared();
  }
}

Listener::~Listener() {
  invalidate();
}

void Listener::setConnectionHandler(ConnectionHandler handler) {
  handler_ = std::move(handler);
}

bool Listener::activate(NSError* error) {
  if (acceptor_) {
    return true;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath_.empty() || socketPath_.size() >= sizeof(address.sun_path)) {
    setError(error, failure("Socket path is empty or too long.", ENAMETOOLONG));
    return false;
  }
  std::memcpy(address.sun_path, socketPath_.data(), socketPath_.size());

  // Started on demand by the service manager: its socket is already listening at the path.
  UniqueFd handed;
  if (!takeActivatedSocket(socketPath_, handed, error)) {
    return false;
  }
  if (handed) {
    return startAccepting(std::move(handed), std::nullopt, error);
  }

  // Replace a socket left by an earlier run; never remove anything that is not a socket, nor
  // the socket of a listener that still runs (a second instance must not steal it).
  struct stat status {};
  if (::lstat(socketPath_.c_str(), &status) == 0) {
    if (!S_ISSOCK(status.st_mode)) {
      setError(error, failure(socketPath_ + " exists and is not a socket.", EEXIST));
      return false;
    }
    if (isListenedOn(address)) {
      setError(error, failure("Another process listens on " + socketPath_ + ".", EADDRINUSE));
      return false;
    }
    if (::unlink(socketPath_.c_str()) != 0 && errno != ENOENT) {
      setError(error, failure("Could not remove the stale socket " + socketPath_ + ".", errno));
      return false;
    }
  }
  UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!socket) {
    setError(error, failure("Could not create the listening socket.", errno));
    return false;
  }
  if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    setError(error, failure("Could not bind " + socketPath_ + ".", errno));
    return false;
  }
  // Anyone may connect: who is served is decided by the handshake.
  if (::chmod(socketPath_.c_str(), 0666) != 0 || ::lstat(socketPath_.c_str(), &status) != 0) {
    const int chmodFailure = errno;
    ::unlink(socketPath_.c_str());
    setError(error, failure("Could not open up " + socketPath_ + ".", chmodFailure));
    return false;
  }
  if (::listen(socket.get(), SOMAXCONN) != 0) {
    const int listenFailure = errno;
    ::unlink(socketPath_.c_str());
    setError(error, failure("Could not listen on " + socketPath_ + ".", listenFailure));
    return false;
  }
  return startAccepting(std::move(socket), status, error);
}

bool Listener::startAccepting(UniqueFd socket, std::optional<struct stat> ownFile, NSError* error) {
  const int fd = socket.get();
  auto acceptor = std::make_shared<Acceptor>(std::move(socket), ownFile, socketPath_, options_,
                                             handler_, options_.pool);
  if (!options_.pool->addSource(fd, acceptor, error)) {
    if (ownFile) {
      ::unlink(socketPath_.c_str());
    }
    return false;
  }
  acceptor_ = std::move(acceptor);
  return true;
}

void Listener::invalidate() {
  if (acceptor_) {
    acceptor_->stop();
    acceptor_.reset();
  }
}

} // namespace platform::xpc
