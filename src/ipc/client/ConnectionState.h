#pragma once

#include <exception>
#include <memory>

namespace ipc {

// The published state of a connectable client.
enum class ClientConnectionState { idle, connecting, established, failed };

class ConnectionStateType;

// What a state object may ask of the client it belongs to.
class ConnectionContextType {
public:
  virtual ~ConnectionContextType() = default;
  virtual void startConnection() = 0;
  virtual void dropConnection() = 0;
  virtual void setState(std::shared_ptr<ConnectionStateType> state) = 0;
};

// One state of the client's connection, reacting to six events. Holds its client weakly.
class ConnectionStateType {
public:
  virtual ~ConnectionStateType() = default;
  virtual ClientConnectionState kind() const = 0;

  std::shared_ptr<ConnectionContextType> context() const { return context_.lock(); }
  void setContext(std::weak_ptr<ConnectionContextType> context) { context_ = std::move(context); }

  virtual void didEnter() {}
  virtual void willExit() {}
  virtual void connect() {}
  virtual void disconnect() {}
  virtual void connectionFailed(const std::exception_ptr&) {}
  virtual void connectionEstablished() {}

protected:
  // Hands a fresh state object of type S (no context yet) to the client.
  template <class S> void transition() {
    if (auto client = context()) {
      client->setState(std::make_shared<S>());
    }
  }

private:
  std::weak_ptr<ConnectionContextType> context_;
};

class ConnectionStateIdle final : public ConnectionStateType {
public:
  ClientConnectionState kind() const override { return ClientConnectionState::idle; }
  void didEnter() override;
  void connect() override;
};

class ConnectionStateConnecting final : public ConnectionStateType {
public:
  ClientConnectionState kind() const override { return ClientConnectionState::connecting; }
  void didEnter() override;
  void disconnect() override;
  void connectionFailed(const std::exception_ptr&) override;
  void connectionEstablished() override;
};

class ConnectionStateEstablished final : public ConnectionStateType {
public:
  ClientConnectionState kind() const override { return ClientConnectionState::established; }
  void disconnect() override;
  void connectionFailed(const std::exception_ptr&) override;
};

class ConnectionStateFailed final : public ConnectionStateType {
public:
  ClientConnectionState kind() const override { return ClientConnectionState::failed; }
  void didEnter() override;
  void connect() override;
  void disconnect() override;
};

} // namespace ipc
