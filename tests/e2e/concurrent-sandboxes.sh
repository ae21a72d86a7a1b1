#!/usr/bin/env bash
# Two sandboxes at once stay independent: the one that leaves first removes nothing that the
# other still mounts on, and the last one to leave removes the folders that were made for them.
# Runs on the host (it starts the sandboxes itself); needs root.
set -uo pipefail
source "$(dirname "$0")/host-lib.sh"
had_library=0
[[ -d /Library ]] && had_library=1

# The long one checks, after the short one has come and gone, that its agent still serves
# (its trust anchors are still mounted) and that /Library is still its tmpfs.
long_out=$(mktemp)
"$root/scripts/sandbox" --no-build -- bash -c '
  sleep 2
  agentctl health >/dev/null && echo "health ok"
  findmnt -n -o FSTYPE /Library' >"$long_out" 2>&1 &
long=$!
sleep 0.5
"$root/scripts/sandbox" --no-build -- agentctl health >/dev/null 2>&1
short_status=$?
wait "$long"
long_status=$?
check "the short sandbox's client is served" [ "$short_status" -eq 0 ]
check "the long sandbox's agent still serves after the short one left" \
  grep -q "health ok" "$long_out"
check "... and its /Library is still its own tmpfs" grep -qx tmpfs "$long_out"
check "the long sandbox ends well" [ "$long_status" -eq 0 ]
if ((had_library == 0)); then
  check "the last sandbox to leave removes the /Library it made" [ ! -e /Library ]
fi
rm -f "$long_out"
finish
