#!/usr/bin/env bash
# A TerminateRequest is answered with success, then the agent exits with status 0. Repeated,
# because a reply that loses the race against the exit reaches the client as a connection
# that ended. Runs inside scripts/sandbox --no-agent.
set -uo pipefail
source "$(dirname "$0")/lib.sh"

for round in 1 2 3 4 5; do
  start_agent
  run agentctl send TerminateRequest
  check "round $round: TerminateRequest is answered with success" \
    eval '[ "$status" -eq 0 ] && [ "$out" == "{\"success\":{}}" ]'
  terminated=0
  wait "$agent_pid" || terminated=$?
  status=$terminated
  check "round $round: then the agent exits with status 0" [ "$terminated" -eq 0 ]
  rm -f "$socket"
done

finish
