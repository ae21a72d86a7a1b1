#include "agent/AgentApplication.h"

#include "agent/AutoConfigError.h"
#include "agent/HelperToolAutoConfig.h"

namespace agent {

AgentApplication::AgentApplication() {
  const std::string serviceName = HelperToolAutoConfig::machServiceName();
  HelperToolAutoConfig::checkLocation();
  const std::vector<std::string> requirements = HelperToolAutoConfig::authorizedClients();
  const platform::security::RuntimePolicy runtime = HelperToolAutoConfig::clientsRuntimePolicy();
  serverEngine_ = ipc::XPCServerEngine::create(
      ipc::XPCServerEngine::Descriptor::privilegedHelper(serviceName, requirements, runtime));
}

std::string AgentApplication::launchFailureDescription(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const AutoConfigError& misconfiguration) {
    return misconfiguration.text();
  } catch (const platform::NSErrorException& errorValue) {
    return errorValue.error().description();
  } catch (const platform::BridgedError& bridged) {
    return bridged.toNSError().description();
  } catch (const std::exception& other) {
    return other.what();
  } catch (...) {
    return "unknown error";
  }
}

} // namespace agent
