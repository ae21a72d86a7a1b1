#!/usr/bin/env bash
# Start-up and shut-down of the agent: where it must lie, what its embedded property lists must
# hold, its log, and the exit on request. Runs inside scripts/sandbox --no-agent.
set -uo pipefail
source "$(dirname "$0")/lib.sh"

variants=/run/variants
mkdir -p "$variants"

# A copy of the agent with one embedded property list (SECTION) replaced by the XML in TEXT.
make_variant() {
  local name=$1 section=$2 text=$3
  printf '%s' "$text" >"$variants/$name.plist"
  cp "$build/src/agent/com.quillby.Lumora5.Agent" "$variants/$name"
  objcopy --update-section "$section=$variants/$name.plist" "$variants/$name"
}

plist() {
  printf '<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict>%s</dict></plist>\n' "$1"
}

# Installs VARIANT at the agent's location, starts it and gives its exit status once it has
# ended (or "running").
run_variant() {
  install -m 0755 "$variants/$1" "$agent"
  start_agent
  sleep 0.05
  if kill -0 "$agent_pid" 2>/dev/null; then
    status=running
  else
    status=0
    wait "$agent_pid" || status=$?
  fi
  out=$(cat /run/agent.log)
  err=
}

fault_lines() { grep -c 'fault: Failed to launch agent:' /run/agent.log; }
# A fault message of two lines: each line carries the fault priority and the source.
launch_fault() { printf 'Failed to launch agent:\n<2>PrivilegedAgent[Agent] fault: %s' "$1"; }

run agentctl health
check "no agent: the client reports that it cannot connect (exit 4)" [ "$status" -eq 4 ]

# Started normally: two lines, then silence until a client connects.
start_agent
sleep 0.2
expected_log=$'<6>PrivilegedAgent[Agent] info: Staring agent...\n<6>PrivilegedAgent[Agent] info: Agent started, awaiting commands...'
out=$(cat /run/agent.log) err=
check "a normal start logs exactly two lines" [ "$out" == "$expected_log" ]
stop_agent

# Outside the install directory.
mkdir -p /run/elsewhere
cp "$agent" /run/elsewhere/com.quillby.Lumora5.Agent
start_agent /run/elsewhere/com.quillby.Lumora5.Agent
status=0
wait "$agent_pid" || status=$?
out=$(cat /run/agent.log) err=
check "outside /Library/PrivilegedHelperTools: exit 1" [ "$status" -eq 1 ]
check "... with one fault line" [ "$(fault_lines)" -eq 1 ]
check "... that names the directory" contains "$out" \
  "$(launch_fault 'A blessed helper tool must be located in directory: /Library/PrivilegedHelperTools')"
check "... and no socket" [ ! -e "$socket" ]

info_with_clients() {
  plist "<key>CFBundleShortVersionString</key><string>5.3.1</string><key>SMAuthorizedClients</key>$1"
}
make_variant machservices-string __launchd_plist \
  "$(plist '<key>Label</key><string>com.quillby.Lumora5.Agent</string><key>MachServices</key><string>com.quillby.Lumora5.Agent</string>')"
make_variant machservices-array __launchd_plist \
  "$(plist '<key>Label</key><string>com.quillby.Lumora5.Agent</string><key>MachServices</key><array><string>com.quillby.Lumora5.Agent</string></array>')"
make_variant clients-mixed __info_plist \
  "$(info_with_clients '<array><string>identifier "com.quillby.Lumora5"</string><integer>7</integer></array>')"
make_variant clients-empty __info_plist "$(info_with_clients '<array/>')"

for variant in machservices-string machservices-array; do
  run_variant "$variant"
  check "MachServices as $variant: exit 1" [ "$status" == 1 ]
  check "... with the missing-key error, not 'has no entries'" \
    contains "$out" "$(launch_fault 'launchd property list missing MachServices key')"
  check "... and no socket" [ ! -e "$socket" ]
done

run_variant clients-mixed
check "SMAuthorizedClients of strings and numbers: exit 1" [ "$status" == 1 ]
check "... with the missing-key error" \
  contains "$out" "$(launch_fault 'Info property list missing SMAuthorizedClients key')"

run_variant clients-empty
check "empty SMAuthorizedClients: the agent starts" [ "$status" == running ]
run agentctl health
check "... and refuses every client: unauthorized (exit 5)" \
  eval '[ "$status" -eq 5 ] && contains "$err" unauthorized'
stop_agent

# A listener that cannot listen is a failed launch: one fault line with the cause, exit 1.
install -m 0755 "$build/src/agent/com.quillby.Lumora5.Agent" "$agent"
echo "not a socket" >"$socket"
start_agent
status=0
wait "$agent_pid" || status=$?
out=$(cat /run/agent.log) err=
check "a file at the socket path: exit 1" [ "$status" -eq 1 ]
check "... with the cause in one fault line, and no 'Agent started'" \
  eval '[ "$(fault_lines)" -eq 1 ] && contains "$out" "exists and is not a socket" &&
        ! contains "$out" "Agent started"'
check "... and the file is left as it was" [ "$(cat "$socket")" == "not a socket" ]
rm -f "$socket"

# A second instance never takes the running one's socket.
start_agent
first_pid=$agent_pid
start_agent "$agent" /run/second.log
status=0
wait "$agent_pid" || status=$?
out=$(cat /run/second.log) err=
check "a second instance exits 1, naming the live listener" \
  eval '[ "$status" -eq 1 ] && contains "$out" "Another process listens on"'
agent_pid=$first_pid
run agentctl health
check "... and the first instance keeps its socket and serves" [ "$status" -eq 0 ]
stop_agent

# A socket left by an earlier run that nobody listens on is replaced.
python3 -c 'import socket, sys; s = socket.socket(socket.AF_UNIX); s.bind(sys.argv[1])' "$socket"
start_agent
for _ in $(seq 1 100); do agentctl health >/dev/null 2>&1 && break; sleep 0.02; done
run agentctl health
check "a stale socket is replaced and the agent serves" [ "$status" -eq 0 ]
stop_agent

# A read-only /run: nowhere to listen.
mount -o remount,ro /run
start_agent "$agent" /dev/null
status=0
wait "$agent_pid" || status=$?
mount -o remount,rw /run
check "a read-only /run: exit 1" [ "$status" -eq 1 ]

# Without the clients' group no client could ever be admitted: a failed launch.
install -m 0755 "$build/src/agent/com.quillby.Lumora5.Agent" "$agent"
cp /etc/group /run/group.saved
groupdel "$clients_group"
start_agent
status=0
wait "$agent_pid" || status=$?
out=$(cat /run/agent.log) err=
cp /run/group.saved /etc/group
check "no clients' group: exit 1" [ "$status" -eq 1 ]
check "... with the cause" contains "$out" \
  "$(launch_fault "Cannot admit clients: the clients' group \"$clients_group\" does not exist")"
check "... and no socket" [ ! -e "$socket" ]

finish
