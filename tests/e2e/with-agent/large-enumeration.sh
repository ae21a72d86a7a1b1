#!/usr/bin/env bash
# A large tree enumerated through the agent and decoded by agentctl: every entry arrives, and
# the agent gives its memory back after the reply. 100,000 entries by default;
# AGENT_E2E_ENUMERATION_ENTRIES=1000000 runs the million-entry case (under a minute; agentctl
# needs some 2 GiB of memory and the tree about 1 GiB). Runs inside scripts/sandbox.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

entries=${AGENT_E2E_ENUMERATION_ENTRIES:-100000}
files_per_folder=999
folders=$(((entries + files_per_folder) / (files_per_folder + 1)))
# Under /run, the sandbox's own memory file system: files are made there in a second where a
# disk may take a minute, and nothing is left behind on the host.
tree=$(mktemp -d /run/large-enumeration.XXXXXX)
trap 'rm -rf "$tree"' EXIT
python3 - "$tree" "$folders" "$files_per_folder" <<'EOF'
import os, sys
root, folders, per = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for folder in range(folders):
    directory = os.path.join(root, "folder-%d" % folder)
    os.mkdir(directory)
    fd = os.open(directory, os.O_RDONLY | os.O_DIRECTORY)
    for index in range(per):
        os.close(os.open("file-%d.dat" % index, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644,
                         dir_fd=fd))
    os.close(fd)
EOF
expected=$((folders * (files_per_folder + 1)))

agent_pid=$(pgrep -f "^$agent" | head -n 1)
output=$(mktemp /run/large-enumeration-output.XXXXXX)
trap 'rm -rf "$tree" "$output"' EXIT
out= err=
agentctl task KLVPrivilegedAccessEnumeratorTask \
  "{\"rootURL\":\"$tree\",\"shouldCollectDirectory\":true}" >"$output" 2>/run/large-enumeration.err
status=$?
check "agentctl decodes the listing of $expected entries" \
  eval '[ "$status" -eq 0 ] && [ "$(grep -o "\"originPath\"" "$output" | wc -l)" -eq "$expected" ]'
[ "$status" -eq 0 ] || head -c 2000 /run/large-enumeration.err

# The reply's buffers are returned to the system once it is sent.
resident_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$agent_pid/status"; }
peak_kib() { awk '/^VmHWM:/ { print $2 }' "/proc/$agent_pid/status"; }
echo "agent: peak $(peak_kib) KiB, now $(resident_kib) KiB"
check "the agent is back under 32 MiB after the reply" [ "$(resident_kib)" -lt 32768 ]
run agentctl health
check "... and serves the next request" [ "$status" -eq 0 ]
finish
