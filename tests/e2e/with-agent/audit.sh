#!/usr/bin/env bash
# The audit trail: every privileged request leaves one notice line naming who asked (pid, uid,
# executable, signing identifier), for what, the outcome and the time it took; a refused
# client leaves its cause. Answers "who removed this file, and when". Runs inside
# scripts/sandbox.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

mkdir -p /run/audit
echo "data" >/run/audit/removed.txt
# A name made to forge a field and a line of the log.
forged=$'/run/audit/x" outcome=success\n<5>PrivilegedAgent[Audit] notice: request=Forged'

agentctl send RemoveFileRequest '{"url":"file:///run/audit/removed.txt"}' >/run/e2e.out &
client=$!
wait "$client"
line=$(grep "Audit\] notice: request=RemoveFileRequest subject=\"/run/audit/removed.txt\"" \
  /run/agent.log)
out=$line
check "removing a file leaves one audit line at notice priority" \
  eval '[ "$(grep -c "request=RemoveFileRequest subject=\"/run/audit/removed.txt\"" /run/agent.log)" -eq 1 ] &&
        [[ $line == "<5>PrivilegedAgent[Audit] notice: "* ]]'
check "... that names the outcome and the time it took" \
  eval '[[ $line =~ outcome=success\ duration_ms=[0-9]+\.[0-9] ]]'
check "... and who asked: pid, uid, executable and signing identifier" \
  contains "$line" "client_pid=$client client_uid=0 client_executable=\"/run/clients/agentctl\" client_identifier=\"com.quillby.Lumora5\""

run setpriv --reuid=65534 --regid=65534 --clear-groups agentctl send RemoveFileRequest \
  '{"url":"http://elsewhere/run/audit/remote.txt"}'
line=$(grep "request=RemoveFileRequest subject=\"/run/audit/remote.txt\"" /run/agent.log)
out=$line
check "a failed request is audited with its error and the client's uid" \
  eval '[[ $line == *"outcome=failure error=\""* ]] && [[ $line == *"client_uid=65534"* ]]'

run agentctl send RemoveFileRequest "$(printf '{"url":"file://%s"}' "$(python3 -c 'import json,sys,urllib.parse; print(urllib.parse.quote(sys.argv[1]))' "$forged")")"
out=$(grep -c "request=Forged" /run/agent.log)
check "a file name cannot start a line or add a field of its own" \
  eval '[ "$(grep -c "^<5>PrivilegedAgent\[Audit\] notice: request=Forged" /run/agent.log)" -eq 0 ] &&
        grep -q "subject=\"/run/audit/x\\\\x22 outcome=success\\\\x0A<5>" /run/agent.log'

echo "12345" >/run/audit/sized.txt
run agentctl task KLVPrivilegedAccessFileSizeTask '{"url":"/run/audit/sized.txt"}'
out=$(grep "request=PrivilegedAccessTaskRequest" /run/agent.log)
check "a task is audited by its class and the URL it names" \
  contains "$out" 'subject="KLVPrivilegedAccessFileSizeTask file:///run/audit/sized.txt" outcome=success'

run "$build/tools/agentctl/agentctl-unsigned" health
check "a refused client leaves a line with its cause" \
  grep -q "Handshake failed due to unauthorized, client pid <[0-9]*>, uid <0>, executable <$build/tools/agentctl/agentctl-unsigned>" /run/agent.log
check "... and no audit line, since nothing was done for it" \
  eval '! grep "Audit\]" /run/agent.log | grep -q "agentctl-unsigned"'
finish
