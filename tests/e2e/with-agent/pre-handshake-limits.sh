#!/usr/bin/env bash
# What an unknown peer may cost the agent before its handshake: frames of at most 64 KiB, five
# seconds, and a place among at most 64 waiting connections. Signed clients are served
# meanwhile. Runs inside scripts/sandbox.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

agent_process=$(pgrep -f "^$agent\$")
rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$agent_process/status"; }
open_descriptors() { ls "/proc/$agent_process/fd" | wc -l; }
# Starts COUNT strangers in the background ($strangers) that connect, send FRAME_BYTES of a
# frame that declares 64 MiB (none: send nothing), and hold on for SECONDS; as user USER (by
# default root, whose connections the agent does not count against any user's quota).
start_strangers() {
  local as_user=()
  [ -n "${4:-}" ] && as_user=(setpriv --reuid="$4" --regid="$4" --clear-groups)
  "${as_user[@]}" /usr/bin/python3 - "$socket" "$1" "$2" "${3:-0}" <<'PYTHON' &
import socket, struct, sys, time
path, count, seconds, frame_bytes = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), int(sys.argv[4])
header = b"XPCF" + bytes([1, 1]) + struct.pack("<HII", 0, 64 << 20, 0) + struct.pack("<Q", 1)
peers = []
for _ in range(count):
    s = socket.socket(socket.AF_UNIX)
    s.connect(path)
    if frame_bytes:
        try:
            s.sendall(header + b"x" * frame_bytes)
        except OSError:
            pass
    peers.append(s)
time.sleep(seconds)
PYTHON
  strangers=$!
}
baseline_rss=$(rss_kib)
baseline_fds=$(open_descriptors)

# Eight peers each declare a 64 MiB frame and send 1 MiB of it, then wait.
start_strangers 8 3 $((1 << 20))
sleep 1
run agentctl health
check "a signed client is served while eight peers push oversized frames" [ "$status" -eq 0 ]
check "the agent holds no oversized frame: its memory grew by less than 16 MiB" \
  [ $(($(rss_kib) - baseline_rss)) -lt 16384 ]
wait "$strangers"
check "each oversized frame closed its connection, with the cause in the log" \
  eval '[ "$(grep -c "exceeds the cap of 65536" /run/agent.log)" -ge 8 ]'

# Idle peers that never send a handshake are closed after five seconds.
start_strangers 20 7
sleep 1
check "twenty idle peers hold descriptors at first" [ $(($(open_descriptors) - baseline_fds)) -ge 20 ]
wait "$strangers"
check "the agent closes idle peers that never handshake within five seconds" \
  grep -q "closed: no handshake within 5 s" /run/agent.log
check "... and its descriptors return to where they were" \
  [ $(($(open_descriptors) - baseline_fds)) -lt 5 ]
# A crowd of five users with 40 strangers each: at most 16 of one user and 64 of all wait for
# a handshake at once, the oldest make room.
crowd=()
for user in 65530 65531 65532 65533 65534; do
  start_strangers 40 3 0 "$user"
  crowd+=("$strangers")
done
sleep 1.5
run agentctl health
check "a signed client is served while 200 strangers wait" [ "$status" -eq 0 ]
check "the agent keeps at most 64 of them: fewer than 64 x 8 extra descriptors" \
  [ $(($(open_descriptors) - baseline_fds)) -lt 512 ]
check "... closes those beyond 16 of one user, with the cause and the peer's uid" \
  eval '[ "$(grep -c "closed: its user has more than 16 connections without a handshake, client pid <[0-9]*>, uid <6553[0-4]>, executable <" /run/agent.log)" -ge 100 ]'
check "... and those beyond 64 of all users" \
  grep -q "closed: too many connections without a handshake, client pid" /run/agent.log
run setpriv --reuid=65534 --regid=65534 --clear-groups agentctl health
check "a signed client of a crowding user is served too" [ "$status" -eq 0 ]
wait "${crowd[@]}"

run agentctl health
check "a signed client is served afterwards" [ "$status" -eq 0 ]
finish
