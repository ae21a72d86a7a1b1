#include "agent/OperationHandlers.h"
#include "agent/OperationPipeline.h"
#include "agent/PublishersCreate.h"
#include "api/Requests.h"
#include "operations/MaintenanceTaskOperations.h"

#include <memory>

namespace agent {

namespace {

// The permission repair as a sequence: one Bool element with the tool's outcome, then the
// end. Cancelling the sequence ends the tool.
platform::reactive::AnyPublisher<bool>
repairDiskPermissions(std::shared_ptr<const operations::MaintenanceTaskOperations> maintenance,
                      std::string userId) {
  using Create = Publishers::Create<bool>;
  return Create([maintenance, userId = std::move(userId)](Create::Subscriber subscriber) {
           return maintenance->repairDiskPermissions(
               userId, subscriber.onValue, [onCompletion = subscriber.onCompletion] {
                 onCompletion(platform::reactive::Completion::finished());
               });
         })
      .eraseToAnyPublisher();
}

} // namespace

void registerMaintenanceHandlers(ipc::XPCServerEngine& engine) {
  auto maintenance = std::make_shared<const operations::MaintenanceTaskOperations>();
  registerOperation<api::PeriodicScriptRequest>(
      engine, [maintenance](const api::PeriodicScriptRequest& request) {
        return maintenance->runPeriodicScript(request.script);
      });
  registerOperation<api::FlushDNSCacheRequest>(
      engine,
      [maintenance](const api::FlushDNSCacheRequest&) { return maintenance->flushDNSCache(); });
  registerOperation<api::ReindexSpotlightRequest>(
      engine, [maintenance](const api::ReindexSpotlightRequest&) {
        return maintenance->reindexSpotlight();
      });
  engine.registerSequentialHandler<api::RepairDiskPermissionsRequest, bool>(
      [maintenance, weakEngine = engine.weak_from_this()](api::RepairDiskPermissionsRequest request,
                                                          ipc::ConnectionID connection) {
        auto audit =
            std::make_shared<const AuditRecord>(startAudit(weakEngine, connection, request));
        return repairDiskPermissions(maintenance, std::move(request.userId))
            .handleEvents(
                {.receiveCompletion =
                     [audit](const platform::reactive::Completion& completion) {
                       if (completion.isFinished()) {
                         audit->succeeded();
                       } else {
                         audit->failed(
                             api::PrivilegedOperationError::from(completion.error()).description);
                       }
                     },
                 .receiveCancel = [audit] { audit->failed("cancelled"); }});
      });
}

} // namespace agent
