#!/usr/bin/env bash
# The Debian packages: scripts/package builds them lintian-clean, each holds exactly what its
# install rules install, installed from the package the agent serves the packaged agentctl, and
# a client built against the development package alone is served too.
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

# The paths that package $1 holds, and those that `cmake --install` of component $1 writes.
packaged_paths() {
  dpkg-deb -c "$1" | awk '{ print $6 }' | sed 's|^\./|/|; s|/$||' | grep -v '^$' | sort
}
installed_paths() {
  local staging
  staging=$(mktemp -d)
  DESTDIR=$staging cmake --install "$build" --component "$1" --prefix /usr >/dev/null
  (cd "$staging" && find . -mindepth 1 | sed 's|^\.||' | sort)
  rm -rf "$staging"
}

listed=$(packaged_paths "$deb")
check "the package holds exactly what the install rules install" \
  [ "$listed" == "$(installed_paths runtime)" ]
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

# The development package: exactly what its install rules install, and an example client that
# builds against the unpacked package alone, with CMake or with pkg-config.
dev_deb=$(ls "$build"/quillby-agent-dev_*_amd64.deb 2>/dev/null | head -n 1)
check "... and build/quillby-agent-dev_VERSION_amd64.deb beside it" [ -n "$dev_deb" ]
check "the development package holds exactly what its install rules install" \
  [ "$(packaged_paths "$dev_deb")" == "$(installed_paths dev)" ]

# Under the build folder, which the sandbox sees as the host does.
devroot=$build/package-test
rm -rf "$devroot"
mkdir -p "$devroot"
dpkg-deb -x "$dev_deb" "$devroot"
check "... its libraries carry no debugging information" \
  eval '! readelf --debug-dump=info "$devroot"/usr/lib/*/libipc.a 2>/dev/null | grep -q DW_TAG'
example=$devroot/usr/share/doc/quillby-agent-dev/examples/health-client
built=
configured=$(cmake -S "$example" -B "$devroot/build" -G Ninja -DCMAKE_PREFIX_PATH="$devroot/usr" \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DSIGNING_KEY="$build/pki/client.key" \
  -DSIGNING_CERT="$build/pki/client.pem" \
  -DQUILLBY_AGENT_CODESIGN="$build/tools/codesign/agent-codesign" 2>&1) &&
  built=$(cmake --build "$devroot/build" 2>&1)
status=$?
((status == 0)) || echo "$configured$built" | tail -n 20
check "the example client builds against the unpacked development package and is signed" \
  eval '[ "$status" -eq 0 ] && grep -q "signed as com.quillby.Lumora5" <<<"$built"'
check "... with its headers, not the source tree's" \
  eval 'grep -q "$devroot/usr/include/quillby-agent" "$devroot/build/compile_commands.json" &&
        ! grep -q "$root/src" "$devroot/build/compile_commands.json"'
flags=$(PKG_CONFIG_PATH=$(echo "$devroot"/usr/lib/*/pkgconfig) pkg-config --cflags --libs quillby-agent)
check "... and with the flags of its pkg-config file" \
  c++ -o "$devroot/health-client-pc" "$example/main.cpp" \
  "$devroot"/usr/lib/*/cmake/QuillbyAgent/ExecuteHeaderSymbol.cpp $flags

# Installed in a sandbox as the package and its postinst would install it, the agent serves
# agentctl and the example client.
out=$("$root/scripts/sandbox" --no-agent --no-build -- \
  "$root/tests/e2e/installed-package.sh" "$deb" "$devroot/build/health-client" 2>&1)
echo "$out" | sed 's/^/  /'
check "the installed agent and agentctl work together" \
  eval '! grep -q "^FAIL" <<<"$out" && grep -q "checks passed" <<<"$out"'

rm -rf "$devroot"
finish
