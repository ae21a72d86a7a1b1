# Shared by the end-to-end scripts that run on the host and start their sandboxes themselves:
# $root, the skip when sandboxes cannot be made here, and the checks.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
if ((EUID != 0)) || ! unshare --mount --pid --fork --propagation private true 2>/dev/null; then
  echo "skipped: needs root and private mount and PID namespaces"
  exit 77
fi
checks=0
failures=0
check() {
  local name=$1
  shift
  checks=$((checks + 1))
  if "$@"; then echo "ok   $name"; else failures=$((failures + 1)); echo "FAIL $name"; fi
}
finish() {
  echo "$((checks - failures)) of $checks checks passed"
  ((failures == 0))
}
