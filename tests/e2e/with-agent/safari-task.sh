#!/usr/bin/env bash
# The browser home page reset against a running agent: the managed preference is forced and
# removed with the directory tool, refreshed, and the browser's defaults are edited. Runs
# inside scripts/sandbox, which started the agent; dscl, mcxrefresh, defaults and profiles are
# stubs. The user "alice" exists only in this sandbox's password database.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

stubs=/run/stubs
home=/run/home/alice
mkdir -p "$home/Library/Preferences"
cp /etc/passwd /run/passwd
echo "alice:x:15001:15001::$home:/bin/sh" >>/run/passwd
mount --bind /run/passwd /etc/passwd

start_page=https://www.apple.com/startpage/
reset_stubs() { rm -f "$stubs"/dscl.* "$stubs"/mcxrefresh.* "$stubs"/defaults.* "$stubs"/profiles.*; }
lines() { cat "$stubs/$1.argv" 2>/dev/null; }
task() {
  run agentctl task KLVPrivilegedAccessSafariHomepageResetTask \
    "{\"externalUtilityExecutionTimeout\":5,\"userName\":\"$1\"}"
}

reset_stubs
task alice
check "the reset succeeds" eval '[ "$status" -eq 0 ] && contains "$out" "\"value\":\"success\""'
check "the managed home page is set and deleted for /Users/alice" [ "$(lines dscl)" == \
  $'dscl\t.\tmcxset\t/Users/alice\tcom.apple.Safari\tHomePage\talways\t'"$start_page"$'\ndscl\t.\tmcxdelete\t/Users/alice\tcom.apple.Safari\tHomePage' ]
check "managed preferences are refreshed twice for the user" [ "$(lines mcxrefresh)" == \
  $'mcxrefresh\t-n\talice\nmcxrefresh\t-n\talice' ]
check "without a sandbox broker file only the browser's domain is edited" [ "$(lines defaults)" == \
  $'defaults\twrite\tcom.apple.Safari\tHomePage\t'"$start_page"$'\ndefaults\tdelete\tcom.apple.Safari\tHomePage' ]
check "no placeholder profile on current systems" [ ! -e "$stubs/profiles.argv" ]

reset_stubs
broker=$home/Library/Preferences/com.apple.Safari.SandboxBroker.plist
touch "$broker"
task alice
check "the sandbox broker file is edited too, with its lower-case key" [ "$(lines defaults | cut -f2-4)" == \
  $'write\tcom.apple.Safari\tHomePage\nwrite\t'"$broker"$'\tHomepage\ndelete\tcom.apple.Safari\tHomePage\ndelete\t'"$broker"$'\tHomepage' ]
rm -f "$broker"

reset_stubs
echo 1 >"$stubs/mcxrefresh.status"
task alice
check "a failed refresh is a failure status with error 10" \
  eval 'contains "$out" "\"value\":\"failure\"" && contains "$out" "\"code\":10" && contains "$out" kKLVSafariHomepageServiceErrorDomain'
check "the managed page stays: no deletion was tried" [ "$(lines dscl | cut -f3)" == mcxset ]

reset_stubs
task nobody-here
check "an unknown user fails with the task's error 1" \
  eval 'contains "$out" kKLVPrivilegedAccessSafariHomepageResetTaskErrorDomain && contains "$out" "\"code\":1,"'
check "the error names the user" contains "$out" '"kKLVEmbeddedUserNameKey":"nobody-here"'
check "nothing runs for an unknown user" \
  eval '[ ! -e "$stubs/dscl.argv" ] && [ ! -e "$stubs/mcxrefresh.argv" ]'

reset_stubs
task ../alice
check "a name that would leave /Users is refused and runs nothing" \
  eval 'contains "$out" "\"code\":1," && [ ! -e "$stubs/dscl.argv" ]'

finish
