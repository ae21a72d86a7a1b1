#include "FailureReport.h"

#include "AgentClient.h"
#include "ExitCode.h"
#include "ipc/ErrorDescription.h"
#include "ipc/HandshakePayload.h"
#include "ipc/XPCConnectionError.h"
#include "ipc/XPCProtocolError.h"
#include "ipc/client/ClientError.h"
#include "platform/reactive/Await.h"

#include <iostream>
#include <string>
#include <sys/auxv.h>

namespace agentctl {

int fail(int code, const std::string& text) {
  std::cerr << "agentctl: " << text << "\n";
  return code;
}

namespace {

int reportProtocolError(const ipc::XPCProtocolError& error) {
  if (error.is<ipc::XPCProtocolError::Unauthorized>()) {
    // The usual cause for an otherwise genuine copy: the kernel did not start it in
    // secure-execution mode, so the agent cannot trust that it runs only its own code.
    const char* hint = ::getauxval(AT_SECURE) == 0
                           ? " (this copy does not run set-group-ID to the clients' group)"
                           : "";
    return fail(kUnauthorized, std::string("refused by the agent: unauthorized") + hint);
  }
  if (error.is<ipc::XPCProtocolError::Timeout>()) {
    return fail(kTimeout, "the agent did not answer in time (timeout)");
  }
  return fail(kProtocolFailure, "the agent answered with an error: " + error.description());
}

} // namespace

int reportFailure(const std::exception_ptr& failure, const StartDiagnosis& diagnosis) {
  try {
    std::rethrow_exception(failure);
  } catch (const ipc::ClientError& error) {
    if (auto refused = diagnosis.connectionFailure()) {
      return fail(kConnectionRefused, "cannot connect to the agent at " + agentSocketPath() + ": " +
                                          refused->localizedDescription());
    }
    if (auto handshake = diagnosis.handshakeFailure()) {
      return reportFailure(handshake, StartDiagnosis());
    }
    return fail(kProtocolFailure, "not connected to the agent (" + error.description() + ")");
  } catch (const ipc::XPCProtocolError& error) {
    return reportProtocolError(error);
  } catch (const ipc::XPCConnectionError&) {
    return fail(kProtocolFailure, "the agent ended the connection");
  } catch (const platform::reactive::WaitTimedOut&) {
    return fail(kTimeout, "the agent did not answer in time (timeout)");
  } catch (const ipc::HandshakePayload::Errors&) {
    return fail(kProtocolFailure, "this program carries no bundle identifier or version");
  } catch (const std::exception& error) {
    return fail(kProtocolFailure, ipc::errorDescription(error));
  } catch (...) {
    return fail(kProtocolFailure, "unknown failure");
  }
}

} // namespace agentctl
