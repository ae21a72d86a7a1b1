#!/usr/bin/env bash
# Thinning universal binaries made with clang and llvm-lipo against the running agent: the
# file a link names is thinned and the link stays, files beside it are never touched, and holes
# stay holes. Runs inside scripts/sandbox.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

lipo=/usr/lib/llvm-14/bin/llvm-lipo
if ! command -v clang >/dev/null || [[ ! -x $lipo ]]; then
  echo "skipped: clang or llvm-lipo-14 is not installed"
  exit 0
fi
work=/run/thinning
mkdir -p "$work"
printf 'int answer(int x) { return x * 6 + 4; }\n' >"$work/slice.c"
for arch in x86_64 arm64; do
  clang -c -O1 -target "$arch-apple-macos11" "$work/slice.c" -o "$work/$arch.o"
done
# A universal file of the two objects at PATH.
universal() { "$lipo" -create "$work/x86_64.o" "$work/arm64.o" -output "$1"; }
thin() {
  run agentctl send BinaryThinningRequest "{\"url\":\"file://$1\",\"compatibleArchitecture\":\"x86_64\"}"
}
archs() { "$lipo" -archs "$1" 2>/dev/null | xargs; }

universal "$work/plain"
thin "$work/plain"
check "a universal file keeps only the x86_64 slice" \
  eval '[ "$out" == "{\"success\":true}" ] && [ "$(archs "$work/plain")" == x86_64 ]'

# Through a symbolic link: the file it names is thinned, and the link stays a link.
universal "$work/target"
ln -s "$work/target" "$work/link"
thin "$work/link"
check "thinning through a link thins the file it names" \
  eval '[ "$out" == "{\"success\":true}" ] && [ "$(archs "$work/target")" == x86_64 ]'
check "... and leaves the link in place" \
  eval '[ -L "$work/link" ] && [ "$(readlink "$work/link")" == "$work/target" ]'

# A file named like a temporary file of the rewrite is somebody else's: it stays.
universal "$work/named"
echo "not ours" >"$work/named.lipo"
thin "$work/named"
check "an unrelated NAME.lipo beside the file survives the thinning" \
  eval '[ "$out" == "{\"success\":true}" ] && [ "$(cat "$work/named.lipo")" == "not ours" ]'
check "... and no temporary file is left" \
  [ -z "$(find "$work" -name '.*lipo*')" ]

# A 64 MiB slice that is nearly all hole: the thinned file keeps the hole.
cp "$work/x86_64.o" "$work/sparse.o"
truncate -s 64M "$work/sparse.o"
"$lipo" -create "$work/sparse.o" "$work/arm64.o" -output "$work/sparse"
fallocate --dig-holes "$work/sparse"
before=$(stat -c %b "$work/sparse")
thin "$work/sparse"
after=$(stat -c '%b %B' "$work/sparse" | awk '{ print $1 * $2 / 1024 }')
check "a sparse slice is thinned" \
  eval '[ "$out" == "{\"success\":true}" ] && [ "$(archs "$work/sparse")" == x86_64 ] &&
        [ "$(stat -c %s "$work/sparse")" -gt 67000000 ]'
check "... and stays sparse: under 1 MiB allocated (was $before blocks; now ${after%.*} KiB)" \
  [ "${after%.*}" -lt 1024 ]
finish
