#pragma once

#include "agent/AuditLog.h"
#include "api/PrivilegedOperationError.h"
#include "ipc/Result.h"
#include "ipc/server/XPCServerEngine.h"
#include "platform/reactive/Just.h"

#include <exception>
#include <functional>

namespace agent {

// What a client receives for an operation answering with V: V, or the error that stopped it.
template <class V> using OperationResult = ipc::Result<V, api::PrivilegedOperationError>;

// Runs `operation` on the calling thread: its value as success, or whatever it threw,
// flattened into a PrivilegedOperationError, as failure. An operation's failure thus always
// travels in a normal reply.
template <class V> OperationResult<V> runOperation(const std::function<V()>& operation) {
  try {
    return OperationResult<V>::success(operation());
  } catch (...) {
    return OperationResult<V>::failure(
        api::PrivilegedOperationError::from(std::current_exception()));
  }
}

// runOperation as a publisher of exactly one result, which never fails.
template <class V>
platform::reactive::AnyPublisher<OperationResult<V>>
performOperation(const std::function<V()>& operation) {
  return platform::reactive::Just(runOperation<V>(operation));
}

// The audit record of `request`, which the handshaken client on `connection` of `engine` sent;
// started now.
template <class Q>
AuditRecord startAudit(const std::weak_ptr<ipc::XPCServerEngine>& engine,
                       const ipc::ConnectionID& connection, const Q& request) {
  auto server = engine.lock();
  return AuditRecord(server ? server->clientIdentity(connection) : std::nullopt, Q::reflectingName,
                     auditSubject(request));
}

// Registers `operation` as the handler of request type Q: each request runs it at once on the
// receiving thread through runOperation, and the reply carries the result of Q's response
// type. Each run leaves its line in the audit trail: who asked, for what, with which outcome.
template <class Q>
void registerOperation(ipc::XPCServerEngine& engine,
                       std::function<typename Q::ResponseType(const Q&)> operation) {
  using V = typename Q::ResponseType;
  engine.registerImmediateHandler<Q, OperationResult<V>>(
      [operation = std::move(operation),
       weakEngine = engine.weak_from_this()](const Q& request, ipc::ConnectionID connection) {
        const AuditRecord audit = startAudit(weakEngine, connection, request);
        return runOperation<V>([&] {
          try {
            V value = operation(request);
            audit.succeeded();
            return value;
          } catch (...) {
            audit.failed(api::PrivilegedOperationError::from(std::current_exception()).description);
            throw;
          }
        });
      });
}

// Registers `operation` as the handler of request type Q like registerOperation, but leaves no
// audit line: for requests that change nothing and reveal nothing of the machine, such as the
// health check, which monitors may send every few seconds.
template <class Q>
void registerUnauditedOperation(ipc::XPCServerEngine& engine,
                                std::function<typename Q::ResponseType(const Q&)> operation) {
  using V = typename Q::ResponseType;
  engine.registerImmediateHandler<Q, OperationResult<V>>(
      [operation = std::move(operation)](const Q& request, ipc::ConnectionID) {
        return runOperation<V>([&] { return operation(request); });
      });
}

} // namespace agent
