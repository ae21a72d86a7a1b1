#!/usr/bin/env bash
# The agent as a service: started on demand by a service manager that hands it its listening
# socket, restarted under a long-lived client that reconnects, and agentctl's own options.
# Runs inside scripts/sandbox, without the sandbox's agent.
set -uo pipefail
source "$(dirname "$0")/lib.sh"

# Socket activation: the manager listens first and starts the agent on the first connection.
rm -f "$socket"
env -i "$(command -v systemd-socket-activate)" -l "$socket" "$agent" 2>/run/agent.log &
manager=$!
for _ in $(seq 1 300); do [[ -S $socket ]] && break; sleep 0.01; done
run agentctl health
check "started on demand with the socket handed over, the agent serves a health check" \
  eval '[ "$status" -eq 0 ] && contains "$out" "\"version\":\"5.3.1\""'
out=$(cat /run/agent.log)
check "... having adopted the socket rather than bound its own" \
  eval 'contains "$out" "Agent started, awaiting commands..." && ! contains "$out" "Another process listens"'
kill "$manager" 2>/dev/null
wait "$manager" 2>/dev/null
rm -f "$socket"

# A manager that hands over another socket: the start fails, with the cause.
env -i "$(command -v systemd-socket-activate)" -l /run/other.sock "$agent" 2>/run/agent.log &
manager=$!
for _ in $(seq 1 300); do [[ -S /run/other.sock ]] && break; sleep 0.01; done
python3 -c 'import socket, sys; s = socket.socket(socket.AF_UNIX); s.connect(sys.argv[1]); s.recv(1)' \
  /run/other.sock 2>/dev/null
status=0
wait "$manager" || status=$?
out=$(cat /run/agent.log) err=
check "handed a socket at another path, the agent exits 1 naming what it expected" \
  eval '[ "$status" -eq 1 ] && contains "$out" "none is a Unix stream socket listening at /var/run/com.quillby.Lumora5.Agent"'
check "... and makes no socket of its own" [ ! -e "$socket" ]

# A long-lived client survives an agent restart: its next checks reconnect.
start_agent
agentctl health --repeat 40000 >/run/repeat.out 2>/run/repeat.err &
client=$!
sleep 1
stop_agent
start_agent "$agent" /run/agent-restarted.log
status=0
wait "$client" || status=$?
out=$(cat /run/repeat.out) err=$(cat /run/repeat.err)
check "a client that outlives the agent reconnects to the restarted one" \
  grep -q "Handshake succeed" /run/agent-restarted.log
check "... and completes its run, counting the checks that failed meanwhile" \
  eval '[[ $out =~ failures=([0-9]+) ]] && [ "${BASH_REMATCH[1]}" -lt 40000 ]'
stop_agent

# agentctl's own options.
run agentctl --version
check "agentctl --version names its version" eval '[ "$status" -eq 0 ] && [ "$out" == "agentctl 5.3.1" ]'
run agentctl
check "bare agentctl prints its usage to standard error (exit 2)" \
  eval '[ "$status" -eq 2 ] && [ -z "$out" ] && contains "$err" "usage: agentctl [--socket PATH] COMMAND"'
run "$build/tools/codesign/agent-codesign" --help
check "agent-codesign --help prints its usage (exit 0)" \
  eval '[ "$status" -eq 0 ] && contains "$out" "usage: agent-codesign"'
mkdir -p /run/elsewhere
start_agent
ln -s "$socket" /run/elsewhere/agent.sock
run agentctl --socket /run/elsewhere/agent.sock health
check "agentctl --socket PATH talks to the agent at PATH" [ "$status" -eq 0 ]
run agentctl --socket /run/elsewhere/absent.sock health
check "... and says which socket it could not reach (exit 4)" \
  eval '[ "$status" -eq 4 ] && contains "$err" "/run/elsewhere/absent.sock"'
stop_agent
finish
