#!/usr/bin/env bash
# What an unknown peer may cost the agent before its handshake: frames of at most 64 KiB, five
# seconds, and a place among at most 64 waiting connections. Signed clients are served
# meanwhile. Runs inside scripts/sandbox.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

agent_process=$(pgrep -f "^$agent\$")
rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$agent_process/status"; }
open_descriptors() { ls "/proc/$agent_process/fd" | wc -l; }
baseline_rss=$(rss_kib)
baseline_fds=$(open_descriptors)

# Eight peers each declare a 64 MiB frame and send 1 MiB of it, then wait.
python3 - "$socket" <<'PYTHON' &
import socket, struct, sys, time
peers = []
for _ in range(8):
    s = socket.socket(socket.AF_UNIX)
    s.connect(sys.argv[1])
    header = b"XPCF" + bytes([1, 1]) + struct.pack("<HII", 0, 64 << 20, 0) + struct.pack("<Q", 1)
    try:
        s.sendall(header + b"x" * (1 << 20))
    except OSError:
        pass
    peers.append(s)
time.sleep(3)
PYTHON
flooders=$!
sleep 1
run agentctl health
check "a signed client is served while eight peers push oversized frames" [ "$status" -eq 0 ]
check "the agent holds no oversized frame: its memory grew by less than 16 MiB" \
  [ $(($(rss_kib) - baseline_rss)) -lt 16384 ]
wait "$flooders"
check "each oversized frame closed its connection, with the cause in the log" \
  eval '[ "$(grep -c "exceeds the cap of 65536" /run/agent.log)" -ge 8 ]'

# Idle peers that never send a handshake are closed after five seconds.
python3 - "$socket" <<'PYTHON' &
import socket, sys, time
peers = [socket.socket(socket.AF_UNIX) for _ in range(20)]
for s in peers:
    s.connect(sys.argv[1])
time.sleep(7)
PYTHON
idlers=$!
sleep 1
check "twenty idle peers hold descriptors at first" [ $(($(open_descriptors) - baseline_fds)) -ge 20 ]
wait "$idlers"
check "the agent closes idle peers that never handshake within five seconds" \
  grep -q "closed: no handshake within 5 s" /run/agent.log
check "... and its descriptors return to where they were" \
  [ $(($(open_descriptors) - baseline_fds)) -lt 5 ]
# A crowd of 200 strangers: at most 64 wait for a handshake at once, the oldest make room.
python3 - "$socket" <<'PYTHON' &
import socket, sys, time
peers = []
for _ in range(200):
    s = socket.socket(socket.AF_UNIX)
    s.connect(sys.argv[1])
    peers.append(s)
time.sleep(3)
PYTHON
crowd=$!
sleep 1.5
run agentctl health
check "a signed client is served while 200 strangers wait" [ "$status" -eq 0 ]
check "the agent keeps at most 64 of them: fewer than 64 x 8 extra descriptors" \
  [ $(($(open_descriptors) - baseline_fds)) -lt 512 ]
check "... and logs each one it closes to make room" \
  eval '[ "$(grep -c "closed: too many connections without a handshake" /run/agent.log)" -ge 100 ]'
wait "$crowd"

run agentctl health
check "a signed client is served afterwards" [ "$status" -eq 0 ]
finish
