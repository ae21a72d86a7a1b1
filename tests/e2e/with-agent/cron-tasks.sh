#!/usr/bin/env bash
# The cron job tasks in a running agent: every user's jobs listed from the tabs folder, one job
# removed in place without touching similar lines, the only job cleared through the crontab
# tool with its exact arguments, and the refusals (changed crontab, bad user name, text that
# is not UTF-8). Runs inside scripts/sandbox, which mounts a tmpfs on /usr/lib/cron.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

tabs=/usr/lib/cron/tabs

# The result line's field NAME (dotted path, a JSON value), read with python3.
field() {
  python3 -c 'import json, sys
v = json.loads(sys.argv[1])
for k in sys.argv[2].split("."):
    v = v[int(k)] if k.isdigit() else v[k]
print(json.dumps(v, sort_keys=True, ensure_ascii=False))' "$out" "$1" 2>/dev/null
}
remove_job() { # SOURCE USER
  local body
  body=$(python3 -c 'import json, sys; print(json.dumps({"cronjobSource": sys.argv[1], "userName": sys.argv[2], "externalUtilityExecutionTimeout": 5}))' "$1" "$2")
  run agentctl task KLVPrivilegedAccessCronjobRemoverTask "$body"
}
argv_log() { cat /run/stubs/crontab.argv 2>/dev/null; }

printf '# system\nSHELL=/bin/sh\n@reboot /usr/local/bin/start.sh\n' >"$tabs/root"
printf '*/15 * * * * /Users/alice/bin/sync --quiet > /dev/null 2>&1\n0 9 * * 1 "${HOME}/My Jobs/report.sh"\n' >"$tabs/alice"
printf '@daily /bin/\xff\n' >"$tabs/mallory"

run agentctl task KLVPrivilegedAccessCronjobFetcherTask '{"externalUtilityExecutionTimeout":5}'
check "the fetch answers a mixed result: the jobs and an error" \
  [ "$(field typeText)" == '"mixed"' ]
check "the unreadable crontab is embedded under code 102" \
  eval '[ "$(field error.code)" == 102 ] && contains "$out" kKLVCronjobServiceErrorDomain'
check "three jobs come back, alice's first" \
  eval '[ "$(field value.2.userName)" == "\"root\"" ] && [ "$(field value.0.userName)" == "\"alice\"" ]'
check "the step schedule is the five fields" \
  [ "$(field value.0.cronjobRecord.schedulerPattern)" == '"*/15 * * * *"' ]
check "/dev/null is no executable path" \
  [ "$(field value.0.cronjobRecord.executablePaths)" == '["/Users/alice/bin/sync"]' ]
check "a quoted path keeps its variable and space" \
  [ "$(field value.1.cronjobRecord.executablePaths)" == '["${HOME}/My Jobs/report.sh"]' ]
check "the reboot job has its keyword as schedule" \
  [ "$(field value.2.cronjobRecord.schedulerPattern)" == '"@reboot"' ]
check "a job carries the crontab's modification date" \
  eval '[[ $(field value.2.lastModificationDate) =~ ^[0-9.]+$ ]]'
rm -f "$tabs/mallory"

# One of several: only the equal line goes, the longer line that contains it stays.
printf '0 * * * * /bin/job --extra\n0 * * * * /bin/job\n@daily /bin/other\n' >"$tabs/bob"
remove_job '0 * * * * /bin/job' bob
check "removing one of several jobs succeeds" \
  eval '[ "$status" -eq 0 ] && [ "$(field value)" == "\"success\"" ]'
check "the other lines stay whole and no blank line is left" \
  [ "$(cat "$tabs/bob")" == $'0 * * * * /bin/job --extra\n@daily /bin/other' ]
check "no crontab tool ran for it" [ -z "$(argv_log)" ]

# The only job: the crontab tool clears the crontab.
printf 'MAILTO=carol\n@hourly /Users/carol/poll\n' >"$tabs/carol"
remove_job '@hourly /Users/carol/poll' carol
check "removing the only job succeeds" [ "$(field value)" == '"success"' ]
check "crontab is run as: -u carol -r" [ "$(argv_log)" == $'crontab\t-u\tcarol\t-r' ]
rm -f /run/stubs/crontab.argv

# The only job is another one than named (the crontab changed): nothing is cleared.
printf '@hourly /Users/carol/changed\n' >"$tabs/carol"
remove_job '@hourly /Users/carol/poll' carol
check "a changed only job is a failure status with code 108" \
  eval '[ "$(field value)" == "\"failure\"" ] && [ "$(field error.code)" == 108 ] &&
        [ "$(field error.domain)" == "\"kKLVCronjobServiceErrorDomain\"" ]'
check "no crontab tool ran and the crontab stays" \
  eval '[ -z "$(argv_log)" ] && [ "$(cat "$tabs/carol")" == "@hourly /Users/carol/changed" ]'

# The crontab tool fails: code 104 with its status and text.
printf '@hourly /Users/dave/poll\n' >"$tabs/dave"
echo 1 >/run/stubs/crontab.status
echo 'crontab: no crontab for dave' >/run/stubs/crontab.stderr
remove_job '@hourly /Users/dave/poll' dave
check "a failing crontab tool gives code 104 with its status and error text" \
  eval '[ "$(field error.code)" == 104 ] && [ "$(field error.userInfo.kKLVCommandToolStatusKey)" == 1 ] && contains "$out" "no crontab for dave"'
rm -f /run/stubs/crontab.status /run/stubs/crontab.stderr /run/stubs/crontab.argv

# Names that are no file name in the tabs folder are refused before anything is read.
echo '@daily /etc/job' >/usr/lib/cron/outside
for name in '../outside' '..' ''; do
  remove_job '@daily /etc/job' "$name"
  check "the user name '$name' is refused with code 101" \
    eval '[ "$(field value)" == "\"failure\"" ] && [ "$(field error.code)" == 101 ]'
done
check "the file outside the tabs folder stays" [ "$(cat /usr/lib/cron/outside)" == '@daily /etc/job' ]

# A user without a crontab: failure with code 105.
remove_job '@daily /bin/x' nobody
check "a user without a crontab is a failure status with code 105" \
  eval '[ "$(field value)" == "\"failure\"" ] && [ "$(field error.code)" == 105 ] &&
        [ "$(field error.userInfo.NSFilePath)" == "\"$tabs/nobody\"" ]'

# Several jobs, none of them the named one, or the named one only inside a longer line.
printf '@daily /bin/a --all
@weekly /bin/b
' >"$tabs/frank"
remove_job '@monthly /bin/c' frank
check "no matching job is a failure status with code 106, and the crontab stays" \
  eval '[ "$(field value)" == "\"failure\"" ] && [ "$(field error.code)" == 106 ] &&
        [ "$(cat "$tabs/frank")" == $'"'"'@daily /bin/a --all\n@weekly /bin/b'"'"' ]'
remove_job '@daily /bin/a' frank
check "a job that is only part of a line is a failure status with code 107" \
  eval '[ "$(field value)" == "\"failure\"" ] && [ "$(field error.code)" == 107 ] &&
        [ "$(cat "$tabs/frank")" == $'"'"'@daily /bin/a --all\n@weekly /bin/b'"'"' ]'
: >"$tabs/gina"
remove_job '@daily /bin/x' gina
check "an empty crontab has no matching job: code 106" [ "$(field error.code)" == 106 ]

# A crontab that links elsewhere is not followed.
printf '@daily /a\n@daily /b\n' >/run/linked-target
ln -s /run/linked-target "$tabs/erin"
remove_job '@daily /a' erin
check "a linked crontab is refused and its target stays" \
  eval '[ "$(field value)" == "\"failure\"" ] && [ "$(cat /run/linked-target)" == $'"'"'@daily /a\n@daily /b'"'"' ]'

check "no crontab tool ran for the refusals" [ -z "$(argv_log)" ]
finish
