#!/usr/bin/env bash
# The six file system requests against the running agent: existence, removal (also of an
# immutable file and of a root-only file asked by an unprivileged client), truncation, size,
# moving, and last the agent's removal of itself. Runs inside scripts/sandbox.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

# The allocated size that the agent reports: the 512-byte blocks of every item of the tree.
allocated_size() {
  find "$1" -printf '%b\n' | awk '{ total += $1 } END { print total * 512 }'
}

mkdir -p /run/files
echo "present" >/run/files/present.txt

# Existence.
run agentctl send FileExistsRequest '{"url":"file:///run/files/present.txt"}'
check "an existing file exists" eval '[ "$status" -eq 0 ] && [ "$out" == "{\"success\":true}" ]'
run agentctl send FileExistsRequest '{"url":"file:///run/files/missing.txt"}'
check "a missing file does not exist (false, not an error)" \
  eval '[ "$status" -eq 0 ] && [ "$out" == "{\"success\":false}" ]'
ln -s /run/files/missing.txt /run/files/dangling
run agentctl send FileExistsRequest '{"url":"file:///run/files/dangling"}'
check "a dangling symbolic link does not exist (the link is followed)" \
  [ "$out" == '{"success":false}' ]

# Removal.
run agentctl send RemoveFileRequest '{"url":"file:///run/files/missing.txt"}'
check "removing a missing path answers true" [ "$out" == '{"success":true}' ]
mkdir -p /run/files/tree/sub
touch /run/files/tree/a /run/files/tree/sub/b
run agentctl send RemoveFileRequest '{"url":"file:///run/files/tree"}'
check "a folder is removed with its content" \
  eval '[ "$out" == "{\"success\":true}" ] && [ ! -e /run/files/tree ]'

locked=$(immutable_capable_dir)
echo "locked" >"$locked/locked.txt"
chattr +i "$locked/locked.txt"
check "the test file is immutable before the request" \
  eval 'lsattr "$locked/locked.txt" | grep -q "^[^ ]*i"'
run agentctl send RemoveFileRequest "{\"url\":\"file://$locked/locked.txt\"}"
check "an immutable file is removed (flag cleared, removal retried)" \
  eval '[ "$out" == "{\"success\":true}" ] && [ ! -e "$locked/locked.txt" ]'

# The agent acts as root for whichever admitted client asks: an unprivileged process running
# the signed client removes a root-only file that it could not remove itself.
mkdir -m 0700 /run/files/private
echo "secret" >/run/files/private/secret.txt
chmod 0600 /run/files/private/secret.txt
as_nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups)
run "${as_nobody[@]}" rm -f /run/files/private/secret.txt
check "the unprivileged user cannot remove the root-only file itself" \
  [ -e /run/files/private/secret.txt ]
run "${as_nobody[@]}" agentctl send RemoveFileRequest \
  '{"url":"file:///run/files/private/secret.txt"}'
check "through the agent, the unprivileged client removes it" \
  eval '[ "$out" == "{\"success\":true}" ] && [ ! -e /run/files/private/secret.txt ]'
run "${as_nobody[@]}" "$build/tools/agentctl/agentctl-unsigned" send RemoveFileRequest \
  '{"url":"file:///run/files/present.txt"}'
check "an unprivileged unsigned client is refused (exit 5) and removes nothing" \
  eval '[ "$status" -eq 5 ] && [ -e /run/files/present.txt ]'

# Truncation.
printf 'some content\n' >/run/files/long.txt
run agentctl send TruncateFileRequest '{"url":"file:///run/files/long.txt"}'
check "a file is truncated to zero length" \
  eval '[ "$out" == "{\"success\":true}" ] && [ ! -s /run/files/long.txt ]'
mkdir -p /run/files/folder
touch /run/files/folder/inside
run agentctl send TruncateFileRequest '{"url":"file:///run/files/folder"}'
check "truncating a folder answers false and changes nothing" \
  eval '[ "$status" -eq 0 ] && [ "$out" == "{\"success\":false}" ] && [ -e /run/files/folder/inside ]'
run agentctl send TruncateFileRequest '{"url":"file:///run/files/missing.txt"}'
check "truncating a missing path answers false" [ "$out" == '{"success":false}' ]

# Size: the space occupied, in whole 512-byte blocks.
mkdir -p /run/files/sized/sub
head -c 1000 /dev/urandom >/run/files/sized/a
head -c 70000 /dev/urandom >/run/files/sized/sub/b
run agentctl send FileSizeRequest '{"url":"file:///run/files/sized/a"}'
check "a file's size is its allocated blocks" \
  [ "$out" == "{\"success\":$(allocated_size /run/files/sized/a)}" ]
run agentctl send FileSizeRequest '{"url":"file:///run/files/sized"}'
check "a folder's size is the sum of its items' blocks" \
  [ "$out" == "{\"success\":$(allocated_size /run/files/sized)}" ]
run agentctl send FileSizeRequest '{"url":"file:///run/files/missing.txt"}'
check "a missing path measures 0 (no failure)" [ "$out" == '{"success":0}' ]

# Names are bytes: a file whose name is not UTF-8, named by its percent-encoded file URL.
raw_name=$(printf '/run/files/bad\xff')
printf 'bytes\n' >"$raw_name"
run agentctl send FileExistsRequest '{"url":"file:///run/files/bad%FF"}'
check "a file whose name is not UTF-8 is found" [ "$out" == '{"success":true}' ]
run agentctl send FileSizeRequest '{"url":"file:///run/files/bad%FF"}'
check "... measured" [ "$out" == "{\"success\":$(allocated_size "$raw_name")}" ]
run agentctl send RemoveFileRequest '{"url":"file:///run/files/bad%FF"}'
check "... and removed" eval '[ "$out" == "{\"success\":true}" ] && [ ! -e "$raw_name" ]'
touch /run/files/nul
run agentctl send FileExistsRequest '{"url":"file:///run/files/nul%00name"}'
check "a name holding a NUL byte names nothing" [ "$out" == '{"success":false}' ]

# Only file URLs name files.
run agentctl send FileSizeRequest '{"url":"http://example.com/run/files/sized/a"}'
check "an http URL is not measured, though its path names a file (0)" [ "$out" == '{"success":0}' ]
run agentctl send FileExistsRequest '{"url":"http://example.com/run/files/present.txt"}'
check "... nor found" [ "$out" == '{"success":false}' ]
run agentctl send RemoveFileRequest '{"url":"http://example.com/run/files/present.txt"}'
check "... nor removed: the invalid-file-name error 514, and the file stays" \
  eval '[ "$status" -eq 1 ] && contains "$out" "\"code\":514" && [ -e /run/files/present.txt ]'
run agentctl send TruncateFileRequest '{"url":"ftp://example.com/run/files/sized/a"}'
check "... nor truncated" \
  eval '[ "$out" == "{\"success\":false}" ] && [ -s /run/files/sized/a ]'

# Moving.
echo "source" >/run/files/source.txt
run agentctl send FileMoveRequest '{"source":"/run/files/source.txt","destination":"/run/files/moved.txt"}'
check "a file is moved" \
  eval '[ "$out" == "{\"success\":true}" ] && [ ! -e /run/files/source.txt ] &&
        [ "$(cat /run/files/moved.txt)" == source ]'
echo "other" >/run/files/other.txt
run agentctl send FileMoveRequest '{"source":"/run/files/other.txt","destination":"/run/files/moved.txt"}'
check "moving onto an existing item fails with the Cocoa error 516 (exit 1)" \
  eval '[ "$status" -eq 1 ] && contains "$out" "\"code\":516" &&
        contains "$out" "\"domain\":\"NSCocoaErrorDomain\""'
check "the failure says that an item with the same name exists" \
  contains "$out" 'because a file with the same name already exists.'
check "both files are left as they were" \
  eval '[ "$(cat /run/files/other.txt)" == other ] && [ "$(cat /run/files/moved.txt)" == source ]'
run agentctl send FileMoveRequest '{"source":"/run/files/missing.txt","destination":"/run/files/x.txt"}'
check "moving a missing item fails with the Cocoa error 4" \
  eval '[ "$status" -eq 1 ] && contains "$out" "\"code\":4," && [ ! -e /run/files/x.txt ]'

# Self-removal. With the executable gone, it fails at its first step and changes nothing.
job=/Library/LaunchDaemons/com.quillby.Lumora5.Agent.plist
echo '<plist/>' >"$job"
agent_pid=$(pgrep -f "^$agent\$" | head -n 1)
mv "$agent" /run/agent.moved
run agentctl send PrivilegedAgentRemoveRequest
check "self-removal without the executable fails with Cocoa error 4" \
  eval '[ "$status" -eq 1 ] && contains "$out" "\"code\":4,"'
check "the job file stays and the agent keeps serving" \
  eval '[ -e "$job" ] && agentctl health >/dev/null'
mv /run/agent.moved "$agent"

run agentctl send PrivilegedAgentRemoveRequest
check "self-removal answers with an empty success" \
  eval '[ "$status" -eq 0 ] && [ "$out" == "{\"success\":{}}" ]'
check "the executable and the job file are gone" eval '[ ! -e "$agent" ] && [ ! -e "$job" ]'
wait_for_exit "$agent_pid"
check "then the agent process ends" eval '! kill -0 "$agent_pid" 2>/dev/null'

finish
