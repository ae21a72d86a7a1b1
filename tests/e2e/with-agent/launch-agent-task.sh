#!/usr/bin/env bash
# The launch agent removal task in a running agent: launchctl's exact arguments, the helper
# tool named after the job file, the failure and time-out paths, and labels that name no tool.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

daemons=/Library/LaunchDaemons
helpers=/Library/PrivilegedHelperTools

remove_task() {
  run agentctl task KLVPrivilegedAccessLaunchAgentRemoverTask \
    "{\"url\":\"$1\",\"externalUtilityExecutionTimeout\":${2:-30}}"
}

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# The label inside the list is "other": the file name is what names the helper tool.
printf '<plist><dict><key>Label</key><string>other</string></dict></plist>\n' \
  >"$daemons/com.example.job.plist"
echo tool >"$helpers/com.example.job"
echo tool >"$helpers/other"
remove_task "$daemons/com.example.job.plist"
check "the removal succeeds" eval '[ "$status" -eq 0 ] && contains "$out" "\"value\":\"success\""'
check "launchctl is run as: unload <list>" \
  [ "$(cat /run/stubs/launchctl.argv)" == $'launchctl\tunload\t'"$daemons/com.example.job.plist" ]
check "the job file is removed" [ ! -e "$daemons/com.example.job.plist" ]
check "the helper tool named after the file is removed" [ ! -e "$helpers/com.example.job" ]
check "the tool named by the list's label stays" [ -e "$helpers/other" ]
check "the emptied job folder stays" [ -d "$daemons" ]

# launchctl refuses: nothing is removed and its error text is logged.
echo tool >"$helpers/com.example.refused"
echo '<plist/>' >"$daemons/com.example.refused.plist"
echo 1 >/run/stubs/launchctl.status
echo 'Could not find specified service' >/run/stubs/launchctl.stderr
remove_task "$daemons/com.example.refused.plist"
check "a refused unload is a failure status without an error, and agentctl exits 1" \
  eval '[ "$status" -eq 1 ] && contains "$out" "\"error\":null" &&
        contains "$out" "\"value\":\"failure\""'
check "the refused job's files stay" \
  eval '[ -e "$daemons/com.example.refused.plist" ] && [ -e "$helpers/com.example.refused" ]'
check "the agent logs launchctl's error text" \
  grep -q 'Unloading error: Could not find specified service' /run/agent.log
rm -f /run/stubs/launchctl.status /run/stubs/launchctl.stderr

# A launchctl that hangs is stopped after half a second, whatever the task's timeout says.
echo 20 >/run/stubs/launchctl.sleep
started=$(now_ms)
remove_task "$daemons/com.example.refused.plist" 60
elapsed=$(($(now_ms) - started))
check "a hanging launchctl ends the task within about half a second ($elapsed ms)" \
  [ "$elapsed" -lt 1500 ]
check "its error is the runner's time-out (102)" \
  eval 'contains "$out" "\"code\":102" && contains "$out" kKLVTaskRunnerServiceErrorDomain'
check "the hanging launchctl and its sleep are gone" \
  eval 'command -v pgrep >/dev/null && ! pgrep -x sleep >/dev/null'
check "the job file stays after the time-out" [ -e "$daemons/com.example.refused.plist" ]
rm -f /run/stubs/launchctl.sleep

# "...plist" gives the label "..": it names no helper tool, so nothing but the list goes.
echo '<plist/>' >"$daemons/...plist"
remove_task "$daemons/...plist"
check "a job file whose label is '..' is still removed" \
  eval '[ "$status" -eq 0 ] && [ ! -e "$daemons/...plist" ]'
check "the helper folder and its parent are untouched" \
  eval '[ -x "$agent" ] && [ -d /Library/LaunchAgents ] && [ -e "$helpers/com.example.refused" ]'

finish
