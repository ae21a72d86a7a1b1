#!/usr/bin/env bash
# The configuration profile tasks against a running agent: the listing of the profile tool
# becomes profile records, tool failures become failure results, and the removal hands the tool
# a temporary profile that is gone afterwards. Runs inside scripts/sandbox, which started the
# agent; /usr/bin/profiles is a stub.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

stubs=/run/stubs
reset_profiles_stub() { rm -f "$stubs"/profiles.*; }
last_argv() { tail -n 1 "$stubs/profiles.argv" 2>/dev/null; }
removal_file() { last_argv | cut -f3 | sed 's/^-path=//'; }
is_user_removal() { [[ $(last_argv) == $'profiles\tremove\t-path=/tmp/'*$'.mobileconfig\t-user=alice' ]]; }
is_device_removal() { [[ $(last_argv) == $'profiles\tremove\t-path=/tmp/'*'.mobileconfig' ]]; }
is_gone() { [[ -n $1 && ! -e $1 ]]; }

reset_profiles_stub
cat >"$stubs/profiles.stdout" <<'LISTING'
There are 2 configuration profiles installed

_computerlevel[1] attribute: name: Corporate Wi-Fi
_computerlevel[1] attribute: installationDate: 2024-03-05 14:07:09 +0000
_computerlevel[1] attribute: profileIdentifier: com.example.wifi
_computerlevel[1] attribute: profileUUID: 6F1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D
_computerlevel[1] attribute: removalDisallowed: TRUE
alice[2] attribute: name: Mail: Work Account
alice[2] attribute: profileIdentifier: com.example.mail
alice[2] attribute: profileUUID: 0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4E
alice[2] attribute: removalDisallowed: FALSE
bob[3] attribute: name: No UUID
bob[3] attribute: profileIdentifier: com.example.half
bob[3] attribute: removalDisallowed: FALSE
LISTING

run agentctl task KLVPrivilegedAccessProfileFetcherTask '{"externalUtilityExecutionTimeout":5}'
check "the fetcher succeeds" [ "$status" -eq 0 ]
check "it runs the profile tool with show -all verbose" [ "$(last_argv)" == $'profiles\tshow\t-all\tverbose' ]
check "the device profile belongs to root under admin privilege" \
  eval 'contains "$out" "\"isUnderAdminPrivilege\":true" && contains "$out" "\"userName\":\"root\""'
check "the user profile keeps its whole name and its user" \
  eval 'contains "$out" "Mail: Work Account" && contains "$out" "\"userName\":\"alice\""'
check "the installation date arrives as seconds since 2001" contains "$out" '"installationDate":731340429'
check "the group without a UUID is dropped" eval '! contains "$out" com.example.half'

reset_profiles_stub
echo 3 >"$stubs/profiles.status"
echo "profiles: not permitted" >"$stubs/profiles.stderr"
run agentctl task KLVPrivilegedAccessProfileFetcherTask '{"externalUtilityExecutionTimeout":5}'
check "a failing listing is a failure result with error 101" \
  eval 'contains "$out" "\"code\":101" && contains "$out" kKLVProfileServiceErrorDomain'
check "the error carries the tool's status and error text" \
  eval 'contains "$out" "\"kKLVCommandToolStatusKey\":3" && contains "$out" "profiles: not permitted"'

profile='{"userName":"alice","profileName":"Mail","profileIdentifier":"com.example.mail","profileUUIDText":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4E"}'
reset_profiles_stub
run agentctl task KLVPrivilegedAccessProfileRemoverTask "{\"externalUtilityExecutionTimeout\":5,\"profile\":$profile}"
check "the removal succeeds" eval '[ "$status" -eq 0 ] && contains "$out" "\"value\":\"success\""'
check "it removes through a temporary profile for the user" is_user_removal
check "the temporary profile is gone afterwards" is_gone "$(removal_file)"

reset_profiles_stub
echo 1 >"$stubs/profiles.status"
echo "The profile cannot be removed" >"$stubs/profiles.stderr"
run agentctl task KLVPrivilegedAccessProfileRemoverTask "{\"externalUtilityExecutionTimeout\":5,\"profile\":$profile}"
check "a refused removal is a failure status with error 101" \
  eval 'contains "$out" "\"value\":\"failure\"" && contains "$out" "\"code\":101"'
check "the temporary profile is gone after a failure too" is_gone "$(removal_file)"

reset_profiles_stub
run agentctl task KLVPrivilegedAccessProfileRemoverTask \
  '{"externalUtilityExecutionTimeout":5,"profile":{"userName":"alice","profileName":"Mail","profileIdentifier":"com.example.mail","profileUUIDText":""}}'
check "a profile with an empty UUID text is no task: nothing runs" \
  eval '[ "$status" -ne 0 ] && [ ! -e "$stubs/profiles.argv" ]'

admin='{"userName":"root","isUnderAdminPrivilege":true,"profileName":"Wi-Fi","profileIdentifier":"com.example.wifi","profileUUIDText":"6F1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D"}'
run agentctl task KLVPrivilegedAccessProfileRemoverTask "{\"externalUtilityExecutionTimeout\":5,\"profile\":$admin}"
check "a device profile is removed without a user" is_device_removal

finish
