#pragma once

// Every request record of the catalog.

#include "api/AddUserToAllowedList.h"
#include "api/BinaryThinningRequest.h"
#include "api/FileExistsRequest.h"
#include "api/FileMoveRequest.h"
#include "api/FileSizeRequest.h"
#include "api/FlushDNSCacheRequest.h"
#include "api/HealthCheckRequest.h"
#include "api/PeriodicScriptRequest.h"
#include "api/PrivilegedAccessTaskRequest.h"
#include "api/PrivilegedAgentRemoveRequest.h"
#include "api/ReindexSpotlightRequest.h"
#include "api/RemoveASLLogsRequest.h"
#include "api/RemoveBrokenStartupItemRequests.h"
#include "api/RemoveDiagnosticsLogsRequest.h"
#include "api/RemoveFileRequest.h"
#include "api/RemoveLaunchAgentRequest.h"
#include "api/RemovePackageReceiptRequest.h"
#include "api/RepairDiskPermissionsRequest.h"
#include "api/TerminateRequest.h"
#include "api/TruncateFileRequest.h"
