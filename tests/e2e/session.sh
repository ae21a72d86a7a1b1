#!/usr/bin/env bash
# A running agent and its clients: the handshake, replies, failures as payloads, and the
# clients that the agent refuses. Runs inside scripts/sandbox, which started the agent.
set -uo pipefail
source "$(dirname "$0")/lib.sh"

health=$(request_message HealthCheckRequest)

# Nothing but the two start-up lines until a client connects.
expected_log=$'<6>PrivilegedAgent[Agent] info: Staring agent...\n<6>PrivilegedAgent[Agent] info: Agent started, awaiting commands...'
check "the agent logs exactly its two start-up lines" [ "$(cat /run/agent.log)" == "$expected_log" ]

run agentctl raw --no-handshake "$health"
check "a health check before the handshake is refused: unauthorized" \
  contains "$out" '"error":{"unauthorized":{}}'
check "... and the log names the refusal and the peer" \
  grep -q "error: Connection<[^>]*> - refused: a message before the handshake (unauthorized; .*), client pid <[0-9]*>, uid <0>, executable <" /run/agent.log

run agentctl health
check "the health check after the handshake succeeds" [ "$status" -eq 0 ]
check "it answers with the agent's version 5.3.1" contains "$out" '"version":"5.3.1"'
check "it answers with a success result" contains "$out" '{"success":{'

run agentctl raw "$health"
check "a raw request after the handshake gets a payload reply" \
  contains "$out" '"encodedType":"Result<PrivilegedOperationServiceAPI.HealthCheckResponse'

run agentctl raw 'not JSON at all'
check "bytes that are not a message are answered with an error message" \
  contains "$out" '"mailformedTransportMessage"'

printf 'not a Mach-O file\n' >/run/plain.txt
run agentctl send BinaryThinningRequest '{"url":"file:///run/plain.txt","compatibleArchitecture":"x86_64"}'
check "an operation error arrives as a failure payload (exit 1)" [ "$status" -eq 1 ]
check "the failure carries code, domain and description" \
  contains "$out" '{"failure":{"code":2,"description":"This file isn'"'"'t fat binary","domain":"BinaryReaderErrorDomain"}}'

run agentctl send FileSizeRequest '{"url":'
check "bad JSON on the command line exits 3" [ "$status" -eq 3 ]
run agentctl send FileSizeRequest '{"path":"/"}'
check "JSON that is not the request's record exits 3" [ "$status" -eq 3 ]

run "$build/tools/agentctl/agentctl-unsigned" health
check "an unsigned client is refused: unauthorized (exit 5)" \
  eval '[ "$status" -eq 5 ] && contains "$err" unauthorized'

mkdir -p /run/other
install -g "$clients_group" -m 2755 "$(command -v agentctl)" /run/other/agentctl
"$build/tools/codesign/agent-codesign" --identifier com.example.Other \
  --key "$build/pki/client.key" --cert "$build/pki/client.pem" /run/other/agentctl
run /run/other/agentctl health
check "a client signed with another identifier is refused (exit 5)" \
  eval '[ "$status" -eq 5 ] && contains "$err" unauthorized'

run agentctl raw --exec-after-handshake "$health"
check "a client that execs another program after the handshake loses the connection" \
  eval '[ "$status" -eq 7 ] && contains "$err" "ended the connection"'

run agentctl health
check "the agent still serves others afterwards" [ "$status" -eq 0 ]

# A system tool that hangs: the client gives up after its 10-second send time-out.
echo 12 >/run/stubs/pkgutil.sleep
run agentctl send RemovePackageReceiptRequest '{"packageID":"com.example.pkg"}'
check "a request that gets no answer in 10 s exits 6 (timeout)" \
  eval '[ "$status" -eq 6 ] && contains "$err" timeout'

finish
