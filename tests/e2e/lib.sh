# Helpers of the end-to-end test scripts, which run inside scripts/sandbox.
# run CMD...      runs CMD, keeping its standard output in $out, its error in $err and its exit
#                 status in $status
# check NAME CONDITION...   records one check: passes when CONDITION (a command) succeeds
# finish          prints the summary and exits 1 when a check failed
# immutable_capable_dir   prints a folder whose file system honours the immutable flag
# wait_for_exit PID       waits up to two seconds for PID to end

build=${SANDBOX_BUILD:?run inside scripts/sandbox}
agent=/Library/PrivilegedHelperTools/com.quillby.Lumora5.Agent
socket=/run/com.quillby.Lumora5.Agent
clients_group=$(cat "$build/clients-group")
checks=0
failures=0

run() {
  status=0
  out=$("$@" 2>/run/e2e.err) || status=$?
  err=$(cat /run/e2e.err)
}

check() {
  local name=$1
  shift
  checks=$((checks + 1))
  if "$@"; then
    echo "ok   $name"
  else
    failures=$((failures + 1))
    echo "FAIL $name"
    echo "     status=$status"
    echo "     stdout: $out"
    echo "     stderr: $err"
  fi
}

contains() { [[ $1 == *"$2"* ]]; }

# The JSON of a request message of TYPE whose record is BODY (flags 4, "payload").
request_message() {
  local body=${2:-} data
  [[ -n $body ]] || body='{}'
  data=$(printf '%s' "$body" | base64 -w0)
  printf '{"binaryPayload":{"data":"%s","encodedType":"%s"},"flags":4,"version":1}' "$data" "$1"
}

# Starts the installed agent (or AGENT) as the service manager would, logging to LOG; sets
# $agent_pid. Waits until it listens or exits.
start_agent() {
  local executable=${1:-$agent} log=${2:-/run/agent.log}
  env -i "$executable" 2>"$log" &
  agent_pid=$!
  for _ in $(seq 1 300); do
    [[ -S $socket ]] && return 0
    kill -0 "$agent_pid" 2>/dev/null || return 0
    sleep 0.01
  done
}

stop_agent() {
  kill "$agent_pid" 2>/dev/null || true
  wait "$agent_pid" 2>/dev/null || true
  rm -f "$socket"
}

finish() {
  echo "$((checks - failures)) of $checks checks passed"
  ((failures == 0))
}

# A folder whose file system honours the immutable flag: /run (tmpfs) where the kernel
# supports it there, otherwise a small loop-mounted ext4.
immutable_capable_dir() {
  local dir=/run/immutable
  mkdir -p "$dir"
  touch "$dir/probe"
  if chattr +i "$dir/probe" 2>/dev/null; then
    chattr -i "$dir/probe"
    rm -f "$dir/probe"
  else
    rm -f "$dir/probe"
    truncate -s 16M /run/immutable.img
    mkfs.ext4 -q -F /run/immutable.img
    mount -o loop /run/immutable.img "$dir"
  fi
  echo "$dir"
}

wait_for_exit() {
  for _ in $(seq 1 200); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.01
  done
}
