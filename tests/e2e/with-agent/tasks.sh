#!/usr/bin/env bash
# Archived privileged access tasks through `agentctl task` against the running agent: file
# removal, process termination, file size, tree enumeration, empty-directory search and the
# file handle whose descriptor travels with the reply. Runs inside scripts/sandbox.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

known_failures=0
# A check that fails today because of a known fault in the agent: reported, not counted, so
# that the suite stays green until the fault is fixed (then it says so).
known_failure() {
  local name=$1
  shift
  if "$@"; then
    echo "FIXED $name (a known failure passes now: make it a check)"
  else
    known_failures=$((known_failures + 1))
    echo "KNOWN $name"
  fi
}

# Runs agentctl task and reads its result line once: every member of the JSON (at any depth,
# named by its path such as "error.userInfo.NSURL") into $result, as JSON text.
declare -A result
task() {
  run agentctl task "$@"
  result=()
  local key value
  while IFS= read -r -d '' key && IFS= read -r -d '' value; do
    result[$key]=$value
  done < <(python3 -c '
import json, sys
def walk(path, value):
    if path:
        sys.stdout.write(path + "\0" + json.dumps(value, sort_keys=True, ensure_ascii=False) + "\0")
    items = value.items() if isinstance(value, dict) else enumerate(value) if isinstance(value, list) else []
    for key, member in items:
        walk(f"{path}.{key}" if path else str(key), member)
try:
    walk("", json.loads(sys.argv[1]))
except ValueError:
    pass
' "$out")
}
# The member at PATH of the last result line (empty when absent).
field() { printf '%s' "${result[$1]-}"; }
is_result() { # TYPE TYPETEXT
  [[ $(field type) == "$1" && $(field typeText) == "\"$2\"" ]]
}

# --- The request itself ---
run agentctl send PrivilegedAccessTaskRequest '{"taskData":""}'
check "empty task data fails with the unarchiver's Cocoa error 4864" \
  eval '[ "$status" -eq 1 ] && contains "$out" "\"code\":4864" && contains "$out" NSCocoaErrorDomain'
task KLVPrivilegedAccessProcessTerminatorTask '{"processIdentifier":0}'
check "a terminator task with process identifier 0 does not decode" \
  eval '[ "$status" -eq 1 ] && contains "$out" CouldNotUnarchiveTaskError'
task KLVPrivilegedAccessCronjobFetcherTask '{"externalUtilityExecutionTimeout":0}'
check "a task with a zero timeout does not decode" \
  eval '[ "$status" -eq 1 ] && contains "$out" CouldNotUnarchiveTaskError'
task KLVPrivilegedAccessEnumeratorTask '{"rootURL":"/run","maxEnumerationDepth":0}'
check "an enumerator task with depth 0 does not decode" \
  eval '[ "$status" -eq 1 ] && contains "$out" CouldNotUnarchiveTaskError'
task KLVPrivilegedAccessFileSizeTask '{"url":"/run","depth":1}'
check "agentctl refuses a key that the class does not have (exit 3)" \
  eval '[ "$status" -eq 3 ] && contains "$err" depth'
task KLVPrivilegedAccessTask '{}'
check "agentctl refuses the abstract base and unknown classes (exit 3)" [ "$status" -eq 3 ]
run "$build/tools/agentctl/agentctl-unsigned" task KLVPrivilegedAccessFileSizeTask '{"url":"/run"}'
check "an unsigned client's task is refused at the handshake (exit 5)" \
  eval '[ "$status" -eq 5 ] && contains "$err" unauthorized'

# --- File removal ---
mkdir -p /run/rm/parent/only
echo x >/run/rm/parent/only/file
task KLVPrivilegedAccessFileRemoverTask '{"url":"/run/rm/parent/only/file"}'
check "removal: a file is removed, with the status value \"success\" (exit 0)" \
  eval '[ "$status" -eq 0 ] && is_result 1 success && [ "$(field value)" == "\"success\"" ] &&
        [ "$(field error)" == null ] && [ ! -e /run/rm/parent/only/file ]'
check "removal: its emptied folder goes too, the grandparent stays" \
  eval '[ ! -e /run/rm/parent/only ] && [ -d /run/rm/parent ]'

mkdir -p /run/rm/finder
touch /run/rm/finder/.DS_Store /run/rm/finder/file
task KLVPrivilegedAccessFileRemoverTask '{"url":"file:///run/rm/finder/file"}'
check "removal: a folder still holding .DS_Store stays" \
  eval '[ "$status" -eq 0 ] && [ ! -e /run/rm/finder/file ] && [ -e /run/rm/finder/.DS_Store ]'

task KLVPrivilegedAccessFileRemoverTask '{"url":"/run/rm/missing"}'
check "removal: a missing path is a mixed result: value \"failure\" with error 3 (exit 1)" \
  eval '[ "$status" -eq 1 ] && is_result 3 mixed && [ "$(field value)" == "\"failure\"" ] &&
        [ "$(field error.domain)" == "\"kKLVFileRemoverErrorDomain\"" ] && [ "$(field error.code)" == 3 ]'
check "removal: ... naming the item, over the file error 4" \
  eval '[ "$(field error.userInfo.NSURL)" == "\"file:///run/rm/missing\"" ] &&
        [ "$(field error.userInfo.NSUnderlyingError.code)" == 4 ]'

locked=$(immutable_capable_dir)
mkdir -p "$locked/dir/folder"
echo locked >"$locked/dir/locked"
echo sibling >"$locked/dir/sibling"
echo nested >"$locked/dir/folder/nested"
echo above >"$locked/above"
chattr +i "$locked/dir/locked" "$locked/dir/sibling" "$locked/dir/folder/nested" "$locked/above"
chattr +i "$locked/dir"
check "removal: the test files and their folder are immutable before the task" \
  eval 'lsattr -d "$locked/dir" "$locked/dir/locked" "$locked/dir/sibling" | grep -c "^[^ ]*i" | grep -qx 3'
task KLVPrivilegedAccessFileRemoverTask "{\"url\":\"$locked/dir/locked\"}"
check "removal: an immutable file in an immutable folder is removed: success, and no error" \
  eval '[ "$status" -eq 0 ] && is_result 1 success && [ "$(field error)" == null ] &&
        [ ! -e "$locked/dir/locked" ]'
check "removal: the folder itself was unlocked, as removing its entry needs" \
  eval '! lsattr -d "$locked/dir" | grep -q "^[^ ]*i"'
check "removal: siblings, their contents and what lies above the folder keep their flags" \
  eval 'lsattr "$locked/dir/sibling" "$locked/dir/folder/nested" "$locked/above" |
        grep -c "^[^ ]*i" | grep -qx 3'
chattr -i "$locked/dir/sibling" "$locked/dir/folder/nested" "$locked/above"

# A sibling whose flag cannot be cleared (an immutable file on a read-only mount beside the
# item) is no business of the removal: the item goes, and no error is reported.
mkdir -p "$locked/ro-case/mnt" "$locked/ro-source"
echo item >"$locked/ro-case/item"
echo fixed >"$locked/ro-source/fixed"
chattr +i "$locked/ro-case/item" "$locked/ro-source/fixed"
mount --bind "$locked/ro-source" "$locked/ro-case/mnt"
mount -o remount,bind,ro "$locked/ro-case/mnt"
task KLVPrivilegedAccessFileRemoverTask "{\"url\":\"$locked/ro-case/item\"}"
check "removal: an item beside a read-only locked mount is removed: success, and no error" \
  eval '[ "$status" -eq 0 ] && is_result 1 success && [ "$(field error)" == null ] &&
        [ ! -e "$locked/ro-case/item" ]'
umount "$locked/ro-case/mnt"
chattr -i "$locked/ro-source/fixed"

# An archived URL with a base is resolved as RFC 3986 says: a base with an empty path gains
# its "/". The removal task answers that such a URL names no file, quoting the resolved URL.
task_data=$(python3 - "$SANDBOX_ROOT/tests/platform/archive" <<'PYTHON'
import base64, sys, uuid
sys.path.insert(0, sys.argv[1])
from make_archives import Archive
a = Archive()
root = a.reserve()
a.put(root, {
    "uuid": a.object(("NSUUID", "NSObject"), **{"NS.uuidbytes": uuid.uuid4().bytes}),
    "url": a.url("foo.xml", base=a.url("https://www.example.com")),
    "$class": a.class_record("KLVPrivilegedAccessFileRemoverTask", "KLVPrivilegedAccessTask",
                             "NSObject"),
})
print(base64.b64encode(a.data(root)).decode())
PYTHON
)
run agentctl send PrivilegedAccessTaskRequest "{\"taskData\":\"$task_data\"}"
resolved=$(python3 -c '
import base64, json, plistlib, sys
reply = json.loads(sys.argv[1])
result = plistlib.loads(base64.b64decode(reply["success"]))
print(" ".join(o for o in result["$objects"] if isinstance(o, str) and "example" in o))
' "$out" 2>/dev/null)
check "archived URL: base https://www.example.com with foo.xml resolves to .../foo.xml" \
  [ "$resolved" == "https://www.example.com/foo.xml" ]

# A relative URL names no file: the agent refuses to act and its error names the URL as given.
echo keep >/run/rm/relative
task KLVPrivilegedAccessFileRemoverTask '{"url":"rm/relative"}'
check "removal: a relative URL removes nothing" [ -e /run/rm/relative ]
check "removal: a relative URL is answered with a decodable failure result" \
  eval '[ "$status" -eq 1 ] && is_result 3 mixed && [ "$(field error.code)" == 3 ]'

# --- Process termination ---
# A group of three: a shell and its two sleeping children (started outside this shell's jobs).
(setsid sh -c 'sleep 1000 & sleep 1000' &)
for _ in $(seq 1 300); do
  leader=$(pgrep -f '^sh -c sleep 1000 & sleep 1000$' | head -n 1)
  [[ -n $leader ]] && (($(pgrep -g "$leader" | wc -l) == 3)) && break
  sleep 0.01
done
member=$(pgrep -g "$leader" -x sleep | head -n 1)
task KLVPrivilegedAccessProcessTerminatorTask "{\"processIdentifier\":$member}"
check "termination: a member of a group is terminated with success" \
  eval '[ "$status" -eq 0 ] && is_result 1 success && [ "$(field value)" == "\"success\"" ]'
for _ in $(seq 1 300); do
  [[ -z $(pgrep -g "$leader") ]] && break
  sleep 0.01
done
check "termination: ... and with it every process of its group" [ -z "$(pgrep -g "$leader")" ]

unused=99999
while kill -0 $unused 2>/dev/null; do unused=$((unused + 1)); done
task KLVPrivilegedAccessProcessTerminatorTask "{\"processIdentifier\":$unused}"
check "termination: a process that does not exist fails with code 7 over ESRCH" \
  eval '[ "$status" -eq 1 ] && is_result 3 mixed &&
        [ "$(field error.domain)" == "\"ProcessManagementServiceErrorDomain\"" ] &&
        [ "$(field error.code)" == 7 ] && [ "$(field error.userInfo.NSUnderlyingError.code)" == 3 ] &&
        [ "$(field error.userInfo.kKLVEmbeddedProcessIdentifierKey)" == $unused ]'

# The sandbox is its own PID namespace: PID 1 here is the sandbox's shell, not the host's init.
task KLVPrivilegedAccessProcessTerminatorTask '{"processIdentifier":1}'
check "termination: the group of process 1 is refused (EPERM) and survives" \
  eval '[ "$status" -eq 1 ] && [ "$(field error.code)" == 7 ] &&
        [ "$(field error.userInfo.NSUnderlyingError.code)" == 1 ] && kill -0 1'
agent_pid=$(pgrep -f "^$agent\$" | head -n 1)
task KLVPrivilegedAccessProcessTerminatorTask "{\"processIdentifier\":$agent_pid}"
check "termination: the agent's own group is refused and the agent keeps serving" \
  eval '[ "$status" -eq 1 ] && [ "$(field error.userInfo.NSUnderlyingError.code)" == 1 ] &&
        agentctl health >/dev/null'
task KLVPrivilegedAccessProcessTerminatorTask '{"processIdentifier":-1}'
check "termination: process identifier -1 (every process) signals nothing" \
  eval '[ "$status" -eq 1 ] && [ "$(field error.code)" == 7 ] && agentctl health >/dev/null'

# --- File size ---
mkdir -m 0700 -p /run/private
head -c 12345 /dev/urandom >/run/private/data
chmod 0600 /run/private/data
task KLVPrivilegedAccessFileSizeTask '{"url":"/run/private/data"}'
check "size: a root-only file measures its length" \
  eval '[ "$status" -eq 0 ] && is_result 1 success && [ "$(field value)" == 12345 ]'
: >/run/private/empty
task KLVPrivilegedAccessFileSizeTask '{"url":"/run/private/empty"}'
check "size: an empty file measures 0, a success" \
  eval '[ "$status" -eq 0 ] && is_result 1 success && [ "$(field value)" == 0 ]'
task KLVPrivilegedAccessFileSizeTask '{"url":"/run/private"}'
check "size: a folder fails with code 201, naming its type" \
  eval '[ "$status" -eq 1 ] && is_result 2 failure && [ "$(field error.code)" == 201 ] &&
        [ "$(field error.userInfo.NSDebugDescription)" == "\"Invalid file type (NSFileTypeDirectory) for size reading\"" ]'
task KLVPrivilegedAccessFileSizeTask '{"url":"/run/private/missing"}'
check "size: a missing file fails with a FileSizeAccessErrorDomain error" \
  eval '[ "$status" -eq 1 ] && is_result 2 failure && [ "$(field error.domain)" == "\"FileSizeAccessErrorDomain\"" ]'

# --- Enumeration ---
tree=/run/tree
mkdir -p $tree/a/b/c $tree/empty
touch $tree/top $tree/a/one $tree/a/b/two $tree/a/b/c/three $tree/.DS_Store $tree/a/.DS_Store
printf '\xcf\xfa\xed\xfe rest of a Mach-O header' >$tree/a/tool
chmod 0755 $tree/a/tool
ln -s /run/tree/top $tree/link
origins() { python3 -c 'import json, sys; print(" ".join(sorted(r["originPath"] for r in json.loads(sys.argv[1])["value"])))' "$out"; }
record() { # PATH: the record of PATH as sorted JSON
  python3 -c 'import json, sys; print(json.dumps([r for r in json.loads(sys.argv[1])["value"] if r["originPath"] == sys.argv[2]][0], sort_keys=True))' "$out" "$1"
}

task KLVPrivilegedAccessEnumeratorTask "{\"rootURL\":\"$tree\",\"shouldCollectDirectory\":true}"
check "enumeration: every file and folder, without .DS_Store or symbolic links" \
  eval '[ "$status" -eq 0 ] && is_result 1 success &&
        [ "$(origins)" == "$tree/a $tree/a/b $tree/a/b/c $tree/a/b/c/three $tree/a/b/two $tree/a/one $tree/a/tool $tree/empty $tree/top" ]'
check "enumeration: records carry their flags: a Mach-O executable" \
  [ "$(record $tree/a/tool)" == "{\"canonicalStandartizedPath\": \"$tree/a/tool\", \"isDirectory\": false, \"isExecutable\": true, \"isMachOBinary\": true, \"originPath\": \"$tree/a/tool\"}" ]
check "enumeration: ... and a folder" \
  [ "$(record $tree/a/b)" == "{\"canonicalStandartizedPath\": \"$tree/a/b\", \"isDirectory\": true, \"isExecutable\": true, \"isMachOBinary\": false, \"originPath\": \"$tree/a/b\"}" ]
task KLVPrivilegedAccessEnumeratorTask "{\"rootURL\":\"$tree\",\"maxEnumerationDepth\":1}"
check "enumeration: files only, down to the children of the root's folders at depth 1" \
  eval '[ "$(origins)" == "$tree/a/one $tree/a/tool $tree/top" ]'
task KLVPrivilegedAccessEnumeratorTask "{\"rootURL\":\"$tree/top\"}"
check "enumeration: a file as the root gives exactly its record" \
  eval '[ "$status" -eq 0 ] && [ "$(origins)" == "$tree/top" ]'
task KLVPrivilegedAccessEnumeratorTask "{\"rootURL\":\"$tree/missing\"}"
check "enumeration: a missing root is a failure in the enumerator's domain, with no records" \
  eval '[ "$status" -eq 1 ] && is_result 2 failure && [ "$(field value)" == null ] &&
        [ "$(field error.domain)" == "\"kKLVFileTreeEnumeratorErrorDomain\"" ] &&
        [ "$(field error.code)" == 1 ] && [ "$(field error.userInfo.NSUnderlyingError.code)" == 2 ]'

# --- Empty directories ---
mkdir -p /run/dirs/finder /run/dirs/hidden /run/dirs/empty
touch /run/dirs/finder/.DS_Store /run/dirs/hidden/.profile
task KLVPrivilegedAccessEmptyDirectoryFetcherTask '{"url":"/run/dirs/finder"}'
check "empty: a folder holding only .DS_Store is empty (false)" \
  eval '[ "$status" -eq 0 ] && is_result 1 success && [ "$(field value)" == false ]'
task KLVPrivilegedAccessEmptyDirectoryFetcherTask '{"url":"/run/dirs/empty"}'
check "empty: an empty folder is empty (false)" [ "$(field value)" == false ]
task KLVPrivilegedAccessEmptyDirectoryFetcherTask '{"url":"/run/dirs/hidden"}'
check "empty: a folder holding one hidden file is not (true)" [ "$(field value)" == true ]
task KLVPrivilegedAccessEmptyDirectoryFetcherTask '{"url":"/run/dirs/missing"}'
check "empty: a missing folder answers true with error 10002 (mixed)" \
  eval '[ "$status" -eq 1 ] && is_result 3 mixed && [ "$(field value)" == true ] &&
        [ "$(field error.code)" == 10002 ] &&
        [ "$(field error.domain)" == "\"kKLVFastDirectoryEnumeratorErrorDomain \"" ]'

# --- File handles ---
head -c 300000 /dev/urandom >/run/private/secret
chmod 0600 /run/private/secret
status=0
agentctl task --read KLVPrivilegedAccessFileHandleTask '{"url":"/run/private/secret","fileHandleType":1}' \
  >/run/secret.read 2>/run/e2e.err || status=$?
out="(the bytes read are in /run/secret.read)"
err=$(cat /run/e2e.err)
check "handle: reading a root-only file through the received descriptor gives its bytes" \
  eval '[ "$status" -eq 0 ] && cmp -s /run/secret.read /run/private/secret'
check "handle: the result line goes to standard error, naming the descriptor" \
  contains "$err" '"typeText":"success","value":{"NS.descriptorIndex":0}'

# Four clients reading at once, 20 times each: every read gets its descriptor and the bytes.
read_repeatedly() {
  local round
  for round in $(seq 1 20); do
    agentctl task --read KLVPrivilegedAccessFileHandleTask \
      '{"url":"/run/private/secret","fileHandleType":1}' 2>/dev/null | cmp -s - /run/private/secret ||
      echo "client $1 round $round"
  done
}
out=$(for client in 1 2 3 4; do read_repeatedly $client & done; wait)
check "handle: 80 concurrent reads all receive the descriptor and the file's bytes" [ -z "$out" ]

printf 'original text\n' >/run/private/note
chmod 0600 /run/private/note
run agentctl task --write "NEW" KLVPrivilegedAccessFileHandleTask '{"url":"/run/private/note","fileHandleType":2}'
check "handle: writing starts at the beginning and does not truncate" \
  eval '[ "$status" -eq 0 ] && [ "$(cat /run/private/note)" == "NEWginal text" ]'
run agentctl task --read KLVPrivilegedAccessFileHandleTask '{"url":"/run/private/note","fileHandleType":3}'
check "handle: an updating handle reads too" eval '[ "$status" -eq 0 ] && [ "$out" == "NEWginal text" ]'

task KLVPrivilegedAccessFileHandleTask '{"url":"/run/private/absent","fileHandleType":2}'
check "handle: writing does not create a missing file: the open error (Cocoa 4)" \
  eval '[ "$status" -eq 1 ] && is_result 2 failure && [ "$(field error.code)" == 4 ] && [ ! -e /run/private/absent ]'
for type in 0 4; do
  task KLVPrivilegedAccessFileHandleTask "{\"url\":\"/run/private/note\",\"fileHandleType\":$type}"
  check "handle: type $type fails with 100502, naming the URL" \
    eval '[ "$status" -eq 1 ] && is_result 2 failure && [ "$(field error.code)" == 100502 ] &&
          [ "$(field error.domain)" == "\"kKLVPrivilegedAccessErrorDomain\"" ] &&
          [ "$(field error.userInfo.NSURL)" == "\"file:///run/private/note\"" ]'
done
run agentctl task --read KLVPrivilegedAccessFileSizeTask '{"url":"/run/private/note"}'
check "handle: --read on a result without a file handle exits 1" \
  eval '[ "$status" -eq 1 ] && contains "$err" "no file handle"'

echo "$known_failures known failure(s)"
finish
