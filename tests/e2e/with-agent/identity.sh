#!/usr/bin/env bash
# Who may speak for a signed client: the genuine set-group-ID agentctl is served as root and as
# nobody; the ways an unprivileged user could make a signed client run their own code, or speak
# over its connection, are refused, each with its cause in the agent's log.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

attacks=$build/tests/e2e/e2e_identity_attacks
preload=$build/tests/e2e/libe2e_rename_preload.so
as_nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups)
secret_task=(task --read KLVPrivilegedAccessFileHandleTask
             '{"url":"/run/private/secret","fileHandleType":1}')

mkdir -p -m 0700 /run/private
echo "root's secret" >/run/private/secret
chmod 0600 /run/private/secret
mkdir -p -m 0755 /run/attack
mkdir -p -m 0777 /run/attack/out
# A signed client, but an ordinary copy: not set-group-ID.
install -m 0755 "$(command -v agentctl)" /run/attack/agentctl-plain

# Runs CMD... (which ends in exec'ing a client) and keeps the pid that the client will have.
run_client() {
  status=0
  out=$(sh -c 'echo $$ >/run/attack/pid; exec "$@"' client "$@" 2>/run/e2e.err) || status=$?
  err=$(cat /run/e2e.err)
  client_pid=$(cat /run/attack/pid)
}
# The agent's log holds a refusal of $client_pid that mentions CAUSE.
refused_for() { grep -q "process $client_pid refused.*$1" /run/agent.log; }
leaked() { [[ $out == *"root's secret"* ]]; }

run_client agentctl health
check "the genuine set-group-ID client is served when root runs it" [ "$status" -eq 0 ]
run_client "${as_nobody[@]}" agentctl "${secret_task[@]}"
check "... and when nobody runs it (it reads what it is asked to read)" \
  eval '[ "$status" -eq 0 ] && leaked'

# 1. LD_PRELOAD of a library that renames its LD_PRELOAD entry in the live environment.
rm -f /run/attack/out/marker
run_client "${as_nobody[@]}" env LD_PRELOAD="$preload" ATTACK_MARKER=/run/attack/out/marker \
  agentctl health
check "preload: the loader ignores it in the set-group-ID client, so no injected code runs" \
  [ ! -e /run/attack/out/marker ]
check "preload: ... and the environment filter still refuses that client" \
  eval '[ "$status" -eq 5 ] && refused_for "it was started with LD_PRELOAD"'
run_client "${as_nobody[@]}" env LD_PRELOAD="$preload" ATTACK_MARKER=/run/attack/out/marker \
  /run/attack/agentctl-plain "${secret_task[@]}"
check "preload: in a copy without the group the injected code runs and hides its variable" \
  [ -e /run/attack/out/marker ]
check "preload: ... and the agent refuses that client (exit 5) and reads nothing for it" \
  eval '[ "$status" -eq 5 ] && ! leaked'
check "preload: the log says it lacked the clients' group" \
  refused_for "its connection was opened with group 65534, not the clients' group"
check "preload: ... and the refused handshake names the peer's pid, uid and executable" \
  grep -q "Handshake failed due to unauthorized, client pid <$client_pid>, uid <65534>, executable </run/attack/agentctl-plain>" /run/agent.log

# 2. A tracer attached at exec that keeps the client dumpable and detaches before it connects.
status=0
out=$("${as_nobody[@]}" "$attacks" traced-exec agentctl "${secret_task[@]}" 2>/run/e2e.err) ||
  status=$?
err=$(cat /run/e2e.err)
client_pid=$(sed -n 's/^client pid //p' <<<"$out")
if ((status == 77)); then
  echo "skip traced exec: $err"
else
  check "ptrace: the attack neutralised the client's prctl and detached" \
    contains "$out" "neutralised prctl(PR_SET_DUMPABLE) and detached"
  check "ptrace: the client is refused (exit 5) and nothing is read for it" \
    eval '[ "$status" -eq 5 ] && ! leaked'
  check "ptrace: the log says the kernel withheld the clients' group" \
    refused_for "its connection was opened with group 65534, not the clients' group"
fi

# 3. Copies and tracers.
run_client /run/attack/agentctl-plain health
check "a signed copy without the set-group-ID bit is refused, even run by root" \
  eval '[ "$status" -eq 5 ] && refused_for "opened with group 0, not the clients'"'"' group"'
# A traced peer is refused at its first frame: the connection ends (exit 7), or, should the
# tracer check run only at the handshake, the handshake is refused (exit 5). Here the client
# is strace's child, and $client_pid is strace.
traced_by_client() { grep -q "refused: it is being traced by process $client_pid " /run/agent.log; }
run_client "${as_nobody[@]}" strace -f -o /dev/null agentctl health
check "agentctl under an unprivileged strace is refused" \
  eval '[[ $status == [57] ]] && traced_by_client'
run_client strace -f -o /dev/null agentctl health
check "agentctl under root's strace is refused too: the tracer is seen" \
  eval '[[ $status == [57] ]] && traced_by_client'

# 4. A library that its user may write, loaded into the genuine client by /etc/ld.so.preload
#    (which the loader honours even in secure-execution mode).
install -m 0666 "$preload" /run/attack/libwritable.so
echo /run/attack/libwritable.so >/etc/ld.so.preload
run_client "${as_nobody[@]}" agentctl "${secret_task[@]}"
rm -f /etc/ld.so.preload
check "library validation: a client with a user-writable library loaded is refused" \
  eval '[ "$status" -eq 5 ] && ! leaked'
check "library validation: the log names the library" \
  refused_for "library validation: it runs code from /run/attack/libwritable.so, which someone other than root owns or may write"

# 5. A connection opened before a genuine client was exec'd, kept and used by a child. The
#    agent is stopped meanwhile, so that it accepts the connection only after the exec (as a
#    busy agent would): the per-frame check then sees nothing change, and the group it was
#    opened with is what gives the attack away.
handshake_payload=$(printf '{"bookmark":"","bundleID":"com.quillby.Lumora5","bundleURL":"file:\\/\\/\\/run\\/clients\\/agentctl","version":"5.3.1"}' | base64 -w0)
handshake=$(printf '{"binaryPayload":{"data":"%s","encodedType":"HandshakePayload"},"flags":32,"version":1}' "$handshake_payload")
request=$(request_message FileSizeRequest '{"url":"file:///run/private/secret"}')
agent_process=$(pgrep -f "^$agent\$")
kill -STOP "$agent_process"
(sleep 1; kill -CONT "$agent_process") &
ATTACK_DELAY_MS=2000 run_client "${as_nobody[@]}" "$attacks" shared-socket "$socket" \
  "$handshake" "$request" agentctl health --repeat 40000
wait
check "shared socket: the handshake and the request sent over it are refused: unauthorized" \
  eval '[ "$(grep -c "\"unauthorized\"" <<<"$out")" -eq 2 ]'
check "shared socket: the log says the connection was opened before the group was granted" \
  refused_for "its connection was opened with group 65534, not the clients' group"

run_client agentctl health
check "the agent still serves the genuine client afterwards" [ "$status" -eq 0 ]
finish
