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
# frame that declares 64 MiB (none: send nothing), and hold on for SECONDS.
start_strangers() {
  python3 - "$socket" "$1" "$2" "${3:-0}" <<'PYTHON' &
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
# A crowd of 200 strangers: at most 64 wait for a handshake at once, the oldest make room.
start_strangers 200 3
sleep 1.5
run agentctl health
check "a signed client is served while 200 strangers wait" [ "$status" -eq 0 ]
check "the agent keeps at most 64 of them: fewer than 64 x 8 extra descriptors" \
  [ $(($(open_descriptors) - baseline_fds)) -lt 512 ]
check "... and logs each one it closes to make room" \
  eval '[ "$(grep -c "closed: too many connections without a handshake" /run/agent.log)" -ge 100 ]'
wait "$strangers"

run agentctl health
check "a signed client is served afterwards" [ "$status" -eq 0 ]
finish
