#include "agent/OperationHandlers.h"
#include "agent/OperationNotAvailable.h"
#include "agent/PublishersCreate.h"
#include "api/Requests.h"

namespace agent {

namespace {

// Stands in for the permission repair until it is built: one step reported as failed, then
// the end of the sequence.
platform::reactive::AnyPublisher<bool> repairDiskPermissionsNotAvailable() {
  return Publishers::Create<bool>([](Publishers::Create<bool>::Subscriber subscriber) {
           subscriber.onValue(false);
           subscriber.onCompletion(platform::reactive::Completion::finished());
           return platform::reactive::AnyCancellable();
         })
      .eraseToAnyPublisher();
}

} // namespace

// Not built into the agent yet: the single requests fail as not available, the repair
// sequence reports one failed step.
void registerMaintenanceHandlers(ipc::XPCServerEngine& engine) {
  registerOperationNotAvailable<api::PeriodicScriptRequest>(engine);
  registerOperationNotAvailable<api::FlushDNSCacheRequest>(engine);
  registerOperationNotAvailable<api::ReindexSpotlightRequest>(engine);
  engine.registerSequentialHandler<api::RepairDiskPermissionsRequest, bool>(
      [](api::RepairDiskPermissionsRequest, ipc::ConnectionID) {
        return repairDiskPermissionsNotAvailable();
      });
}

} // namespace agent
