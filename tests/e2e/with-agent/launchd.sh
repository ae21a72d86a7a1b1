#!/usr/bin/env bash
# Launch job removal against the running agent: the exact launchctl call, the rule that output
# on its standard output keeps the job, the helper tool named by the job file, labels that are
# not file names, broken startup items, and last the agent's own job file, which removes the
# agent. Runs inside scripts/sandbox.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

tools=/Library/PrivilegedHelperTools
tab=$'\t'

# Makes a job file and, when asked, the helper tool named after its label.
make_job() {
  local file=$1 helper=${2:-}
  echo '<plist/>' >"$file"
  if [[ -n $helper ]]; then
    printf '#!/bin/sh\n' >"$tools/$helper"
    chmod 0755 "$tools/$helper"
  fi
}

# Forgets the stub's earlier calls and settings.
reset_launchctl() {
  rm -f /run/stubs/launchctl.*
}

unload_line() { printf 'launchctl%sunload%s%s' "$tab" "$tab" "$1"; }

for request in RemoveLaunchAgentRequest RemoveBrokenStartupItemRequests; do
  # A job with its helper tool.
  reset_launchctl
  make_job /Library/LaunchDaemons/com.example.helper.plist com.example.helper
  run agentctl send $request '{"url":"file:///Library/LaunchDaemons/com.example.helper.plist"}'
  check "$request: a job with a helper tool answers true" \
    eval '[ "$status" -eq 0 ] && [ "$out" == "{\"success\":true}" ]'
  check "$request: launchctl ran once as: unload PATH" \
    [ "$(cat /run/stubs/launchctl.argv)" == "$(unload_line /Library/LaunchDaemons/com.example.helper.plist)" ]
  check "$request: the helper tool and the job file are gone" \
    eval '[ ! -e "$tools/com.example.helper" ] && [ ! -e /Library/LaunchDaemons/com.example.helper.plist ]'

  # A path with a space reaches the tool as one argument.
  reset_launchctl
  make_job "/Library/LaunchAgents/com.example two.plist" "com.example two"
  run agentctl send $request '{"url":"file:///Library/LaunchAgents/com.example%20two.plist"}'
  check "$request: a path with a space is one argument, and the job is removed" \
    eval '[ "$(cat /run/stubs/launchctl.argv)" == "$(unload_line "/Library/LaunchAgents/com.example two.plist")" ] &&
          [ ! -e "$tools/com.example two" ] && [ ! -e "/Library/LaunchAgents/com.example two.plist" ]'

  # Output on standard output means the unload failed: nothing is removed.
  reset_launchctl
  make_job /Library/LaunchAgents/com.example.kept.plist com.example.kept
  echo "Unload failed: 5: Input/output error" >/run/stubs/launchctl.stdout
  run agentctl send $request '{"url":"file:///Library/LaunchAgents/com.example.kept.plist"}'
  check "$request: an unload that prints on standard output answers false" \
    eval '[ "$status" -eq 0 ] && [ "$out" == "{\"success\":false}" ]'
  check "$request: ... and keeps the helper tool and the job file" \
    eval '[ -e "$tools/com.example.kept" ] && [ -e /Library/LaunchAgents/com.example.kept.plist ]'

  # Only standard output counts: error output and the exit status are not looked at.
  reset_launchctl
  echo "warning: something" >/run/stubs/launchctl.stderr
  echo 3 >/run/stubs/launchctl.status
  run agentctl send $request '{"url":"file:///Library/LaunchAgents/com.example.kept.plist"}'
  check "$request: an unload that prints only errors and fails still removes the job" \
    eval '[ "$out" == "{\"success\":true}" ] && [ ! -e "$tools/com.example.kept" ] &&
          [ ! -e /Library/LaunchAgents/com.example.kept.plist ]'

  # A launchctl that cannot run unloaded nothing: false, and the job file stays.
  reset_launchctl
  make_job /Library/LaunchAgents/com.example.notool.plist
  mv /usr/bin/launchctl /run/launchctl.away
  run agentctl send $request '{"url":"file:///Library/LaunchAgents/com.example.notool.plist"}'
  mv /run/launchctl.away /usr/bin/launchctl
  check "$request: without a launchctl that runs the answer is false, and the job file stays" \
    eval '[ "$status" -eq 0 ] && [ "$out" == "{\"success\":false}" ] &&
          [ -e /Library/LaunchAgents/com.example.notool.plist ]'
  rm -f /Library/LaunchAgents/com.example.notool.plist

  # A link to a folder names a job file like any other: it is unloaded, and only the link goes.
  reset_launchctl
  mkdir -p /run/jobfolder
  touch /run/jobfolder/inside.plist
  ln -sfn /run/jobfolder /Library/LaunchAgents/com.example.link.plist
  run agentctl send $request '{"url":"file:///Library/LaunchAgents/com.example.link.plist"}'
  check "$request: a link to a folder is unloaded and only the link is removed" \
    eval '[ "$out" == "{\"success\":true}" ] &&
          [ "$(cat /run/stubs/launchctl.argv)" == "$(unload_line /Library/LaunchAgents/com.example.link.plist)" ] &&
          [ ! -L /Library/LaunchAgents/com.example.link.plist ] && [ -e /run/jobfolder/inside.plist ]'

  # Neither a helper nor the job file: nothing to remove is success.
  reset_launchctl
  run agentctl send $request '{"url":"file:///Library/LaunchAgents/com.example.absent.plist"}'
  check "$request: a job whose files are already gone answers true" \
    [ "$out" == '{"success":true}' ]

  # A job file named "..plist" or "...plist" gives the label "." or "..": that names the
  # helper folder or its parent, never a helper tool, so nothing there is removed.
  reset_launchctl
  touch "$tools/keep"
  for file in ..plist ...plist; do
    make_job "/Library/LaunchAgents/$file"
    run agentctl send $request "{\"url\":\"file:///Library/LaunchAgents/$file\"}"
    check "$request: the job file $file is removed" \
      eval '[ "$status" -eq 0 ] && [ ! -e "/Library/LaunchAgents/$file" ]'
    check "$request: ... and the helper folder and its content stay" \
      eval '[ -d "$tools" ] && [ -e "$tools/keep" ] && [ -x "$agent" ] && [ -d /Library/LaunchAgents ]'
  done
  rm -f "$tools/keep"
done

# The agent's own job file as a broken startup item: the agent removes itself and ends.
reset_launchctl
job=/Library/LaunchDaemons/com.quillby.Lumora5.Agent.plist
echo '<plist/>' >"$job"
agent_pid=$(pgrep -f "^$agent\$" | head -n 1)
run agentctl send RemoveBrokenStartupItemRequests "{\"url\":\"file://$job\"}"
check "the agent's own job file: answered with success" \
  eval '[ "$status" -eq 0 ] && [ "$out" == "{\"success\":true}" ]'
check "... its executable and its job file are gone" eval '[ ! -e "$agent" ] && [ ! -e "$job" ]'
wait_for_exit "$agent_pid"
check "... and the agent process ends" eval '! kill -0 "$agent_pid" 2>/dev/null'

finish
