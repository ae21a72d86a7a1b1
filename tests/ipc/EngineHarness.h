#pragma once

// A server engine listening on a private socket, with a few handlers, and clients for it: the
// end-to-end ground of the engine tests. Authorization is a plain rule here; the code-signing
// rules are tested with signed processes elsewhere.

#include "api/Requests.h"
#include "ipc/Logger.h"
#include "ipc/XPCListener.h"
#include "ipc/client/XPCClientEngine.h"
#include "ipc/server/XPCServerEngine.h"
#include "platform/reactive/Future.h"
#include "platform/reactive/Just.h"

#include <condition_variable>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <unistd.h>

namespace ipc::testing {

using namespace std::chrono_literals;
using platform::reactive::AnyCancellable;
using platform::reactive::AnyPublisher;
using platform::reactive::Completion;

// Collects the framework's log lines while it lives.
class LogLines {
public:
  LogLines() {
    Logger::setHandler([this](Logger::Level, const Logger::MessageBuilder& build) {
      std::lock_guard lock(mutex_);
      lines_.push_back(build());
    });
  }
  ~LogLines() { Logger::removeHandler(); }
  size_t count(const std::string& text) {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(
        std::count_if(lines_.begin(), lines_.end(), [&](const std::string& line) {
          return line.find(text) != std::string::npos;
        }));
  }

private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

// Waits for the one outcome of a publisher: its values and how it ended.
template <class T> struct Outcome {
  std::vector<T> values;
  std::exception_ptr error;
  bool finished = false;
};

template <class T>
Outcome<T> await(const AnyPublisher<T>& publisher, std::chrono::milliseconds limit = 5000ms) {
  auto state = std::make_shared<std::pair<std::mutex, Outcome<T>>>();
  auto done = std::make_shared<std::promise<void>>();
  auto future = done->get_future();
  AnyCancellable subscription = publisher.sink(
      [state, done](const Completion& completion) {
        {
          std::lock_guard lock(state->first);
          state->second.error = completion.error();
          state->second.finished = completion.isFinished();
        }
        done->set_value();
      },
      [state](T value) {
        std::lock_guard lock(state->first);
        state->second.values.push_back(std::move(value));
      });
  if (future.wait_for(limit) != std::future_status::ready) {
    ADD_FAILURE() << "publisher did not complete in time";
  }
  subscription.cancel();
  std::lock_guard lock(state->first);
  return state->second;
}

// Rethrows the failure of an outcome as E and gives it; fails the test otherwise.
template <class E, class T> std::optional<E> failureOf(const Outcome<T>& outcome) {
  if (!outcome.error) {
    ADD_FAILURE() << "expected a failure";
    return std::nullopt;
  }
  try {
    std::rethrow_exception(outcome.error);
  } catch (const E& error) {
    return error;
  } catch (const std::exception& other) {
    ADD_FAILURE() << "unexpected failure: " << other.what();
  }
  return std::nullopt;
}

inline HandshakePayload testHandshake() {
  HandshakePayload payload;
  payload.bundleURL = platform::URL::fileURLWithPath("/Applications/Test.app");
  payload.bundleID = "com.example.test";
  payload.version = "1.0";
  return payload;
}

class EngineHarness : public ::testing::Test {
protected:
  // Whether clients are admitted by the handshake.
  virtual bool admitClients() const { return true; }

  void SetUp() override {
    path_ = ::testing::TempDir() + "engine-" + std::to_string(getpid()) + "-" +
            std::to_string(counter_++) + ".sock";
    startServer();
  }

  // Starts the server at path_ (again, after engine_ was released).
  void startServer() {
    auto listener = std::make_unique<XPCListener>(
        std::make_unique<platform::xpc::Listener>(path_, platform::xpc::TransportOptions{}),
        std::nullopt);
    XPCServerEngine::Descriptor descriptor{
        XPCServerEngine::ServerType::machService("test"),
        ClientRequirement{std::make_shared<AlwaysRule>(admitClients())}};
    engine_ = XPCServerEngine::create(std::move(descriptor), std::move(listener));
    engine_->registerHandler<api::FileSizeRequest, uint64_t>(
        [](api::FileSizeRequest request, ConnectionID) {
          return platform::reactive::Just<uint64_t>(request.url.path().size());
        });
    engine_->registerHandler<api::FileExistsRequest, bool>(
        [](api::FileExistsRequest, ConnectionID) {
          // Emits twice: only the first becomes the reply.
          return platform::reactive::Just(true).append(platform::reactive::Just(false));
        });
    engine_->registerSequentialHandler<api::RepairDiskPermissionsRequest, bool>(
        [this](api::RepairDiskPermissionsRequest request, ConnectionID) -> AnyPublisher<bool> {
          if (request.userId == "fail") {
            return platform::reactive::Fail<bool>(
                platform::NSErrorException(platform::NSError("T", 3)));
          }
          if (request.userId == "hold") {
            return held_.eraseToAnyPublisher();
          }
          return platform::reactive::Just(true).append(platform::reactive::Just(false));
        });
    engine_->start();
  }

  void TearDown() override { engine_.reset(); }

  std::shared_ptr<XPCClientEngine> makeClient() {
    return XPCClientEngine::create(XPCClientEngine::Descriptor::anonymous(path_), testHandshake);
  }
  std::shared_ptr<XPCClientEngine> startedClient() {
    auto client = makeClient();
    auto started = await(client->start());
    EXPECT_TRUE(started.finished);
    return client;
  }

  // Sends a raw message on the client's connection and waits for the reply.
  Outcome<XPCMessage> rawSend(const std::shared_ptr<XPCClientEngine>& client, XPCMessage message) {
    return await(client->connection()->send(std::move(message), 5000ms));
  }
  static XPCMessage messageWithFlags(uint32_t flags) {
    XPCMessage message;
    message.flags = XPCMessage::Flag{flags};
    return message;
  }

  static inline int counter_ = 0;
  std::string path_;
  std::shared_ptr<XPCServerEngine> engine_;
  platform::reactive::PassthroughSubject<bool> held_;
};

} // namespace ipc::testing
