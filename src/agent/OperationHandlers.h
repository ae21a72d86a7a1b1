#pragma once

#include "ipc/server/XPCServerEngine.h"

namespace agent {

// Registers every request type the agent serves with its operation, each family in turn; call
// once, after the engine is built and before it starts. Each family function creates its
// handler object once; all connections share it.
void registerOperationHandlers(ipc::XPCServerEngine& engine);

// TerminateRequest.
void registerTerminateHandler(ipc::XPCServerEngine& engine);
// HealthCheckRequest.
void registerHealthCheckHandlers(ipc::XPCServerEngine& engine);
// FileExistsRequest, FileSizeRequest, RemoveFileRequest, TruncateFileRequest, FileMoveRequest,
// PrivilegedAgentRemoveRequest.
void registerFileSystemHandlers(ipc::XPCServerEngine& engine);
// RemoveDiagnosticsLogsRequest, RemoveASLLogsRequest.
void registerLogsHandlers(ipc::XPCServerEngine& engine);
// BinaryThinningRequest.
void registerLipoHandlers(ipc::XPCServerEngine& engine);
// RemoveBrokenStartupItemRequests.
void registerBrokenStartupItemsHandlers(ipc::XPCServerEngine& engine);
// RemovePackageReceiptRequest.
void registerPackageReceiptHandlers(ipc::XPCServerEngine& engine);
// PeriodicScriptRequest, FlushDNSCacheRequest, ReindexSpotlightRequest, and the sequence
// RepairDiskPermissionsRequest.
void registerMaintenanceHandlers(ipc::XPCServerEngine& engine);
// PrivilegedAccessTaskRequest.
void registerPrivilegedAccessHandlers(ipc::XPCServerEngine& engine);
// RemoveLaunchAgentRequest.
void registerLaunchdHandlers(ipc::XPCServerEngine& engine);
// AddUserToAllowedList.
void registerUserAuthorizationHandlers(ipc::XPCServerEngine& engine);

} // namespace agent
