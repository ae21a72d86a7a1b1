#!/usr/bin/env bash
# What peers that never complete a handshake can make the agent hold while signed clients are
# served: replies left unread, frames declared huge, idle crowds and garbage, run by nobody.
# The agent's threads, memory and descriptors stay bounded, and return afterwards. Runs inside
# scripts/sandbox.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

abuse=$build/tests/e2e/e2e_abuse_attacks
as_nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups)
agent_process=$(pgrep -f "^$agent\$")
status_field() { awk -v field="$1:" '$1 == field { print $2 }' "/proc/$agent_process/status"; }
open_descriptors() { ls "/proc/$agent_process/fd" | wc -l; }
# Five health checks of a signed client, each allowed a second: how many failed.
slow_or_failed_checks() {
  local failed=0
  for _ in 1 2 3 4 5; do
    timeout 1 agentctl health >/dev/null 2>&1 || failed=$((failed + 1))
    sleep 0.2
  done
  echo "$failed"
}
# Samples the agent's resident memory every 0.1 s into the file $samples until $1 ends.
samples=/run/rss-samples
sample_memory_while() {
  while kill -0 "$1" 2>/dev/null; do
    status_field VmRSS >>"$samples"
    sleep 0.1
  done
}

run agentctl health
baseline_rss=$(status_field VmRSS)
baseline_fds=$(open_descriptors)
baseline_threads=$(status_field Threads)

# A peer sends 20,000 calls and reads none of the replies.
"${as_nobody[@]}" "$abuse" unread "$socket" 20000 >/run/unread.out &
attacker=$!
sleep 0.5
check "while a peer leaves 20,000 replies unread, signed clients are served within a second" \
  [ "$(slow_or_failed_checks)" -eq 0 ]
threads=$(status_field Threads) rss=$(status_field VmRSS)
check "... the replies hold no thread ($baseline_threads before, $threads during; at most one per call in flight)" \
  [ "$threads" -le $((baseline_threads + 64)) ]
check "... nor more than 16 MiB of memory ($baseline_rss KiB before, $rss during)" \
  [ $((rss - baseline_rss)) -lt 16384 ]
wait "$attacker"
check "... and the agent closes the connection at the handshake deadline" \
  grep -q "closed by the agent" /run/unread.out

# All four attacks at once, in loops, while a signed client makes 500 health checks.
"${as_nobody[@]}" "$abuse" all "$socket" 6 >/run/all.out &
attackers=$!
sleep 0.5
sample_memory_while "$attackers" &
sampler=$!
run agentctl health --repeat 500
check "under every attack at once, 500 health checks of a signed client all succeed" \
  eval '[ "$status" -eq 0 ] && contains "$out" "failures=0"'
wait "$attackers" "$sampler"
peak=$(sort -n "$samples" | tail -n 1)
check "... and the agent's memory stays under 64 MiB (peak $peak KiB)" [ "$peak" -lt 65536 ]
check "... each refusal is logged with its cause" \
  eval 'grep -q "exceeds the cap of 65536" /run/agent.log &&
        grep -q "closed: its user has more than 16 connections without a handshake" /run/agent.log'

# Afterwards, what the attacks held is given back: connections at once, the memory of the
# extra threads once they retire after ten idle seconds.
sleep 12
check "afterwards the agent's descriptors are back where they were" \
  [ $(($(open_descriptors) - baseline_fds)) -lt 4 ]
rss=$(status_field VmRSS)
check "... and its memory within 8 MiB of where it was ($baseline_rss KiB before, $rss after)" \
  [ $((rss - baseline_rss)) -lt 8192 ]
run agentctl health
check "a signed client is served afterwards" [ "$status" -eq 0 ]
finish
