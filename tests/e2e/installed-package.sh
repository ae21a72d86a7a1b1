#!/usr/bin/env bash
# Inside a sandbox without an agent: unpacks the package DEB, installs its files as dpkg and
# its postinst would (the clients' group, agentctl set-group-ID), then runs the installed agent
# with agentctl and with CLIENT, a client program built against the development package. The maintainer scripts themselves are not run: dpkg-statoverride would write
# the host's dpkg database, which the sandbox shares.
set -uo pipefail
source "$(dirname "$0")/lib.sh"
deb=$1
client=$2
unpacked=/run/package
mkdir -p "$unpacked"
dpkg-deb -x "$deb" "$unpacked"

install -m 0755 "$unpacked$agent" "$agent"
install -o root -g "$clients_group" -m 2755 "$unpacked/usr/bin/agentctl" /run/clients/agentctl
check "the anchors folder ships empty and root's" \
  eval '[ -z "$(ls -A "$unpacked/etc/quillby-agent/anchors")" ] &&
        [ "$(stat -c %U:%a "$unpacked/etc/quillby-agent/anchors")" == root:755 ]'
run systemd-analyze verify --man=no "$unpacked/lib/systemd/system/com.quillby.Lumora5.Agent.socket" \
  "$unpacked/lib/systemd/system/com.quillby.Lumora5.Agent.service"
check "systemd-analyze verify passes on both units" eval '[ "$status" -eq 0 ] && [ -z "$err" ]'

start_agent
run /run/clients/agentctl health
check "the installed agent serves a health check of the installed agentctl" \
  eval '[ "$status" -eq 0 ] && contains "$out" "\"version\":\"5.3.1\""'
echo "data" >/run/package-file.txt
run /run/clients/agentctl task KLVPrivilegedAccessFileSizeTask '{"url":"/run/package-file.txt"}'
check "... and runs a task for it" eval '[ "$status" -eq 0 ] && contains "$out" "\"value\":5"'
install -o root -g "$clients_group" -m 2755 "$client" /run/clients/health-client
run /run/clients/health-client /run/package-file.txt
check "... and serves the example client of the development package" \
  eval '[ "$status" -eq 0 ] && contains "$out" "agent version 5.3.1" &&
        contains "$out" "/run/package-file.txt: 5 bytes"'
run "$unpacked/usr/bin/agentctl" --version
check "the packaged agentctl names its version" [ "$out" == "agentctl 5.3.1" ]
stop_agent
finish
