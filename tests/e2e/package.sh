#!/usr/bin/env bash
# The Debian package: scripts/package builds it lintian-clean, it holds exactly what the
# install rules install, and installed from it the agent serves the packaged agentctl.
# Runs on the host (it starts its sandbox itself); needs root.
set -uo pipefail
source "$(dirname "$0")/host-lib.sh"
build=${BUILD_DIR:-$root/build}

lint=$(BUILD_DIR=$build "$root/scripts/package" 2>&1)
status=$?
echo "$lint" | grep -E '^(E|W):' || true
check "scripts/package builds the package and lintian finds no error" [ "$status" -eq 0 ]
deb=$(ls "$build"/quillby-agent_*_amd64.deb 2>/dev/null | head -n 1)
check "... as build/quillby-agent_VERSION_amd64.deb" [ -n "$deb" ]

listed=$(dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|; s|/$||' | grep -v '^$' | sort)
staging=$(mktemp -d)
DESTDIR=$staging cmake --install "$build" --component runtime --prefix /usr >/dev/null
installed=$(cd "$staging" && find . -mindepth 1 | sed 's|^\.||' | sort)
rm -rf "$staging"
check "the package holds exactly what the install rules install" [ "$listed" == "$installed" ]
for path in /Library/PrivilegedHelperTools/com.quillby.Lumora5.Agent /usr/bin/agentctl \
  /usr/bin/agent-codesign /lib/systemd/system/com.quillby.Lumora5.Agent.service \
  /lib/systemd/system/com.quillby.Lumora5.Agent.socket /etc/quillby-agent/anchors \
  /usr/share/man/man1/agentctl.1.gz /usr/share/man/man8/com.quillby.Lumora5.Agent.8.gz \
  /usr/share/doc/quillby-agent/copyright; do
  check "... among them $path" grep -qx "$path" <<<"$listed"
done
control=$(mktemp -d)
dpkg-deb -e "$deb" "$control"
check "the maintainer scripts are valid shell" \
  eval 'sh -n "$control/postinst" && sh -n "$control/prerm" && sh -n "$control/postrm"'
check "... and postinst makes the clients' group and agentctl set-group-ID to it" \
  eval 'grep -q "group=$(cat "$build/clients-group")" "$control/postinst" &&
        grep -q "dpkg-statoverride --update --add root \"\$group\" 2755 /usr/bin/agentctl" "$control/postinst"'
rm -rf "$control"

# Installed in a sandbox as the package and its postinst would install it, the agent serves.
out=$("$root/scripts/sandbox" --no-agent --no-build -- \
  "$root/tests/e2e/installed-package.sh" "$deb" 2>&1)
echo "$out" | sed 's/^/  /'
check "the installed agent and agentctl work together" \
  eval '! grep -q "^FAIL" <<<"$out" && grep -q "checks passed" <<<"$out"'

finish
