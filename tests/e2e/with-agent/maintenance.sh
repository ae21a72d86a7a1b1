#!/usr/bin/env bash
# Maintenance requests against the running agent: the exact tool calls of the periodic
# scripts, the DNS flush and the Spotlight re-index and what counts as their success, the
# permission repair sequence and its cancellation, log removal, package receipts and the
# allowed-users list under concurrent clients. Runs inside scripts/sandbox.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

tab=$'\t'
stubs=/run/stubs

# Forgets the earlier calls and settings of the named stub tools.
reset_stubs() {
  local tool
  for tool in "$@"; do
    rm -f "$stubs/$tool".*
  done
}

argv_line() {
  local IFS=$tab
  printf '%s' "$*"
}

# True once no process runs the stub tool TOOL (its script is the stub's command line).
tool_gone() {
  local tool=$1
  for _ in $(seq 1 300); do
    pgrep -f "/$tool resetUserPermissions" >/dev/null || return 0
    sleep 0.01
  done
  return 1
}

# --- Periodic scripts ---
reset_stubs periodic
run agentctl send PeriodicScriptRequest '{"script":"daily"}'
check "periodic: answers true" eval '[ "$status" -eq 0 ] && [ "$out" == "{\"success\":true}" ]'
check "periodic: ran as: periodic daily" \
  [ "$(cat $stubs/periodic.argv)" == "$(argv_line periodic daily)" ]

reset_stubs periodic
run agentctl send PeriodicScriptRequest '{"script":"weekly; touch /run/injected"}'
check "periodic: the script name is one argument, never a shell command" \
  eval '[ "$(cat $stubs/periodic.argv)" == "$(argv_line periodic "weekly; touch /run/injected")" ] &&
        [ ! -e /run/injected ]'

reset_stubs periodic
printf '  \n\n' >$stubs/periodic.stdout
run agentctl send PeriodicScriptRequest '{"script":"daily"}'
check "periodic: output of blanks and newlines only still counts as success" \
  [ "$out" == '{"success":true}' ]

reset_stubs periodic
echo "periodic: unknown script" >$stubs/periodic.stdout
run agentctl send PeriodicScriptRequest '{"script":"nonsense"}'
check "periodic: a tool that prints on standard output answers false" \
  [ "$out" == '{"success":false}' ]

reset_stubs periodic
echo 1 >$stubs/periodic.status
run agentctl send PeriodicScriptRequest '{"script":"nonsense"}'
check "periodic: a tool that exits non-zero answers false" [ "$out" == '{"success":false}' ]

# --- DNS cache flush: both tools always run, in this order ---
dns_calls=$(printf '%s\n%s' "$(argv_line dscacheutil -flushcache)" "$(argv_line killall -HUP mDNSResponder)")
dns_argv() { cat $stubs/dscacheutil.argv $stubs/killall.argv 2>/dev/null; }

reset_stubs dscacheutil killall
run agentctl send FlushDNSCacheRequest
check "DNS: answers true when both tools succeed" [ "$out" == '{"success":true}' ]
check "DNS: ran dscacheutil -flushcache, then killall -HUP mDNSResponder" \
  [ "$(dns_argv)" == "$dns_calls" ]

reset_stubs dscacheutil killall
echo 1 >$stubs/dscacheutil.status
run agentctl send FlushDNSCacheRequest
check "DNS: killall still runs after dscacheutil failed, and the answer is false" \
  eval '[ "$out" == "{\"success\":false}" ] && [ "$(dns_argv)" == "$dns_calls" ]'

reset_stubs dscacheutil killall
echo "flushed" >$stubs/dscacheutil.stdout
run agentctl send FlushDNSCacheRequest
check "DNS: a tool that prints on standard output fails the flush" \
  eval '[ "$out" == "{\"success\":false}" ] && [ "$(dns_argv)" == "$dns_calls" ]'

reset_stubs dscacheutil killall
echo 1 >$stubs/killall.status
run agentctl send FlushDNSCacheRequest
check "DNS: a failing killall fails the flush" [ "$out" == '{"success":false}' ]

# --- Spotlight re-index: only the exit status counts ---
reset_stubs mdutil
echo "/: Indexing enabled." >$stubs/mdutil.stdout
run agentctl send ReindexSpotlightRequest
check "Spotlight: ran as: mdutil -E /, and output does not matter" \
  eval '[ "$out" == "{\"success\":true}" ] && [ "$(cat $stubs/mdutil.argv)" == "$(argv_line mdutil -E /)" ]'
reset_stubs mdutil
echo 1 >$stubs/mdutil.status
run agentctl send ReindexSpotlightRequest
check "Spotlight: a non-zero exit answers false" [ "$out" == '{"success":false}' ]

# --- Permission repair: the one sequence request ---
reset_stubs diskutil
run agentctl sequence RepairDiskPermissionsRequest '{"userId":"501"}'
check "repair: the sequence prints its one element, true" \
  eval '[ "$status" -eq 0 ] && [ "$out" == "true" ]'
check "repair: ran as: diskutil resetUserPermissions / 501" \
  [ "$(cat $stubs/diskutil.argv)" == "$(argv_line diskutil resetUserPermissions / 501)" ]

reset_stubs diskutil
echo 1 >$stubs/diskutil.status
run agentctl sequence RepairDiskPermissionsRequest '{"userId":"501"}'
check "repair: a failing tool gives the element false" \
  eval '[ "$status" -eq 0 ] && [ "$out" == "false" ]'

run agentctl send RepairDiskPermissionsRequest '{"userId":"501"}'
check "repair: sent as a simple request it is refused by agentctl (exit 2)" [ "$status" -eq 2 ]

reset_stubs diskutil
echo 30 >$stubs/diskutil.sleep
run agentctl sequence --cancel-after 1 RepairDiskPermissionsRequest '{"userId":"502"}'
check "repair: a sequence cancelled after 1 s emits no element" \
  eval '[ "$status" -eq 0 ] && [ -z "$out" ] && contains "$err" cancelled'
check "repair: diskutil had started" \
  [ "$(cat $stubs/diskutil.argv)" == "$(argv_line diskutil resetUserPermissions / 502)" ]
check "repair: cancelling ends the running diskutil" tool_gone diskutil

# A client that vanishes mid-sequence: its connection ends, and so does the sequence's work.
reset_stubs diskutil
echo 30 >$stubs/diskutil.sleep
agentctl sequence RepairDiskPermissionsRequest '{"userId":"503"}' >/dev/null 2>&1 &
client=$!
for _ in $(seq 1 300); do
  pgrep -f "/diskutil resetUserPermissions / 503" >/dev/null && break
  sleep 0.01
done
kill -KILL $client
wait $client 2>/dev/null
check "repair: when the client is killed, the agent ends its diskutil too" tool_gone diskutil
reset_stubs diskutil
run agentctl health
check "the agent still serves afterwards" [ "$status" -eq 0 ]

# --- Log removal ---
reset_stubs log
run agentctl send RemoveDiagnosticsLogsRequest
check "diagnostics logs: answers true" [ "$out" == '{"success":true}' ]
check "diagnostics logs: ran as: log erase, with \"y\" on standard input" \
  eval '[ "$(cat $stubs/log.argv)" == "$(argv_line log erase)" ] && [ "$(cat $stubs/log.stdin)" == y ]'
reset_stubs log
echo 1 >$stubs/log.status
run agentctl send RemoveDiagnosticsLogsRequest
check "diagnostics logs: a non-zero exit answers false" [ "$out" == '{"success":false}' ]

# The ASL folder lies under /var/log: a private tmpfs there keeps the host's logs out of reach.
# The agent reports a current system version, so the branch without launchctl runs.
mount -t tmpfs -o mode=0755 sandbox-var-log /var/log
reset_stubs launchctl
run agentctl send RemoveASLLogsRequest
check "ASL logs: a missing /var/log/asl answers false" [ "$out" == '{"success":false}' ]
check "ASL logs: ... and the agent logs why" \
  grep -q "Failed to remove contents of /var/log/asl" /run/agent.log
mkdir -p /var/log/asl/sub
touch /var/log/asl/2024.01.01.asl /var/log/asl/.hidden /var/log/asl/sub/x.asl
run agentctl send RemoveASLLogsRequest
check "ASL logs: the contents are removed, hidden ones too, and the folder stays" \
  eval '[ "$out" == "{\"success\":true}" ] && [ -d /var/log/asl ] && [ -z "$(ls -A /var/log/asl)" ]'
check "ASL logs: on a current system launchctl is not run" [ ! -e $stubs/launchctl.argv ]
run agentctl send RemoveASLLogsRequest
check "ASL logs: an empty folder answers true" [ "$out" == '{"success":true}' ]
umount /var/log

# --- Package receipts ---
reset_stubs pkgutil
run agentctl send RemovePackageReceiptRequest '{"packageID":"com.example.pkg"}'
check "receipt: answered with an empty success" \
  eval '[ "$status" -eq 0 ] && [ "$out" == "{\"success\":{}}" ]'
check "receipt: ran as: pkgutil --forget com.example.pkg" \
  [ "$(cat $stubs/pkgutil.argv)" == "$(argv_line pkgutil --forget com.example.pkg)" ]
reset_stubs pkgutil
echo 1 >$stubs/pkgutil.status
run agentctl send RemovePackageReceiptRequest '{"packageID":"com.example.unknown"}'
check "receipt: an unknown package fails with the tool's status, the domain and the text" \
  eval '[ "$status" -eq 1 ] && [ "$out" == "{\"failure\":{\"code\":1,\"description\":\"Failed to perform package remove operation for package with id: com.example.unknown.\",\"domain\":\"com.lumora.privilegedOperations.packageReceipt\"}}" ]'

# --- Allowed users ---
folder="/Library/Application Support/com.quillby.Lumora5.Agent"
list="$folder/allowed.plist"
read_list() {
  python3 -c 'import plistlib, sys; print(" ".join(map(str, plistlib.load(open(sys.argv[1], "rb")))))' "$list"
}

rm -rf "$folder"
run agentctl send AddUserToAllowedList '{"uid":501}'
check "allowed users: the first addition creates the folder and a list of one" \
  eval '[ "$out" == "{\"success\":true}" ] && [ "$(read_list)" == 501 ]'
check "allowed users: the list is a binary property list" \
  eval '[ "$(head -c 8 "$list")" == bplist00 ]'
run agentctl send AddUserToAllowedList '{"uid":501}'
check "allowed users: adding the same identifier again answers true and keeps one entry" \
  eval '[ "$out" == "{\"success\":true}" ] && [ "$(read_list)" == 501 ]'
run agentctl send AddUserToAllowedList '{"uid":4294967295}'
check "allowed users: the largest 32-bit identifier is kept in order of addition" \
  eval '[ "$(read_list)" == "501 4294967295" ]'
echo "damaged" >"$list"
run agentctl send AddUserToAllowedList '{"uid":502}'
check "allowed users: a damaged list is replaced by one holding the new identifier" \
  eval '[ "$out" == "{\"success\":true}" ] && [ "$(read_list)" == 502 ]'

# The list keeps its owner and mode, and one entry that is no identifier costs only itself.
chown 0:4 "$list"
chmod 0600 "$list"
python3 -c 'import plistlib, sys; plistlib.dump([501, 502, 503, "text"], open(sys.argv[1], "wb"), fmt=plistlib.FMT_BINARY)' "$list"
run agentctl send AddUserToAllowedList '{"uid":504}'
check "allowed users: an entry that is no identifier is dropped, the others kept" \
  eval '[ "$out" == "{\"success\":true}" ] && [ "$(read_list)" == "501 502 503 504" ]'
check "allowed users: ... and the agent logs the drop" \
  grep -q "Dropping 1 entries of $list that are no user identifiers" /run/agent.log
check "allowed users: the rewritten list keeps its owner, group and mode" \
  [ "$(stat -c '%u:%g %a' "$list")" == "0:4 600" ]

# 16 clients at once, each adding two shared and two own identifiers: every identifier ends up
# in the list exactly once.
rm -f "$list"
mkdir -p /run/allowed
for client in $(seq 1 16); do
  (
    for uid in 700 701 $((1000 + client)) $((2000 + client)); do
      agentctl send AddUserToAllowedList "{\"uid\":$uid}" >>/run/allowed/$client.out 2>&1
    done
  ) &
done
wait
expected=$(printf '%s\n' 700 701 $(seq 1001 1016) $(seq 2001 2016) | sort -n | tr '\n' ' ')
actual=$(read_list | tr ' ' '\n' | sort -n | tr '\n' ' ')
out=$(cat /run/allowed/*.out | sort | uniq -c)
check "allowed users: every one of the 64 concurrent additions answered true" \
  [ "$(cat /run/allowed/*.out | grep -c '^{"success":true}$')" -eq 64 ]
check "allowed users: after 16 concurrent clients each identifier is present once" \
  eval '[ "$actual" == "$expected" ] && [ "$(read_list | wc -w)" -eq 34 ]'

finish
