#pragma once

#include <string_view>

namespace agentctl {

// The help texts: of the tool, and of each command.
inline constexpr std::string_view kToolUsage =
    R"(usage: agentctl [--socket PATH] COMMAND [ARGUMENTS]
       agentctl --version

Talks to the privileged agent (service "com.quillby.Lumora5.Agent", socket
/var/run/com.quillby.Lumora5.Agent; --socket PATH names another socket, which must also
belong to root).

Commands:
  send TYPE [JSON]        send one request and print its result
  sequence TYPE [JSON]    send a sequence request and print each element
  task CLASS [JSON]       send an archived privileged access task and print its result
  raw [OPTIONS] BYTES     send bytes unchanged as one message and print the reply's bytes
  health                  the same as: send HealthCheckRequest
  types                   list the request type names

"agentctl COMMAND --help" describes a command.

Exit status:
  0  success
  1  the agent answered with a "failure" result
  2  usage error
  3  the JSON given on the command line is invalid for the request
  4  cannot connect to the agent (no socket, or it does not belong to root)
  5  refused by the agent: unauthorized
  6  no answer in time
  7  the connection ended or the agent answered with another error
)";

inline constexpr std::string_view kSendUsage = R"(usage: agentctl send TYPE [JSON]

Connects, performs the handshake and sends one request of TYPE (see "agentctl types") whose
fields are the JSON object given (default {}). Prints the result as the agent encoded it: an
object with "success" (the response) or "failure" (code, domain and description). Exits 0 for
success and 1 for failure.
)";

inline constexpr std::string_view kSequenceUsage =
    R"(usage: agentctl sequence [--cancel-after SECONDS] TYPE [JSON]

Sends a sequence request (RepairDiskPermissionsRequest) and prints each element that the agent
pushes, one JSON value per line, until the agent ends the sequence.

  --cancel-after SECONDS   cancel the sequence on the agent if it has not ended by then, and
                           exit 0 (the agent stops the sequence's work)
)";

inline constexpr std::string_view kTaskUsage =
    R"(usage: agentctl task [--read | --write TEXT] CLASS [JSON]
       agentctl task --list

Builds the task object of CLASS (its archived class name, e.g.
KLVPrivilegedAccessFileRemoverTask; --list names them all) from the JSON object given, whose
keys are the class's archived keys, archives it and sends it in a PrivilegedAccessTaskRequest.
Prints the result that the agent sends back as one JSON line:
  {"error":{"code":N,"domain":"...","userInfo":{...}} or null,"type":N,"typeText":"...","value":...}
Values are rendered as JSON: numbers, texts, arrays and dictionaries as themselves, dates as
seconds since 2001-01-01, URLs and UUIDs as text, data as Base64, records (a KLVPrivilegedURL,
a KLVConfigurationProfile, ...) as objects of their archived keys.

Fields:
  "url", "rootURL"                   a path (taken as given) or a URL ("file:///tmp/x")
  "externalUtilityExecutionTimeout"  seconds (default 30)
  "processIdentifier"                32-bit integer
  "shouldCollectDirectory"           true or false (default false)
  "maxEnumerationDepth"              integer (default 64)
  "fileHandleType"                   1 reading, 2 writing, 3 updating
  "userName", "cronjobSource"        texts
  "profile"                          an object of KLVConfigurationProfile's keys: "userName",
                                     "profileName", "profileIdentifier", "profileUUIDText",
                                     "isUnderAdminPrivilege", "isRemovalDisallowed",
                                     "installationDate" (seconds since 2001-01-01)
  "uuid"                             the task's UUID (default a fresh one)
Values are not checked beyond their JSON type, so that the agent's own checks can be tried
(a zero timeout or process identifier is sent as given). A key the class does not have is an
error.

For KLVPrivilegedAccessFileHandleTask, the opened descriptor arrives with the reply:
  --read         copies the file's contents to standard output
  --write TEXT   writes TEXT through the descriptor
With either, the result line goes to standard error so that standard output holds only the
file's bytes.

Exits 0 for a result of type 0 ("empty") or 1 ("success"), 1 for a failure or mixed result,
for a status result whose value is "failure", or when the agent could not run the task, and
3 when the JSON does not describe a task.
)";

inline constexpr std::string_view kRawUsage =
    R"(usage: agentctl raw [--no-handshake] [--exec-after-handshake] BYTES

Connects, performs the handshake (unless --no-handshake), then sends BYTES unchanged as one
message, even when they are not valid JSON, and prints the bytes of the reply.

  --no-handshake           send BYTES without a handshake first
  --exec-after-handshake   after the handshake, start this program anew and send BYTES from
                           it over the inherited connection
)";

inline constexpr std::string_view kHealthUsage = R"(usage: agentctl health [--repeat N [--samples]]

Asks the agent whether it is alive: prints its version and the time of the answer.
With --repeat N, sends N checks over one connection and prints the median and 99th
percentile round trips and the checks that failed (median_us=X p99_us=Y failures=F), for
benchmarks; --samples then prints each round trip in microseconds on a line of its own.
)";

inline constexpr std::string_view kTypesUsage = R"(usage: agentctl types

Lists the request type names that "send" and "sequence" take.
)";

} // namespace agentctl
