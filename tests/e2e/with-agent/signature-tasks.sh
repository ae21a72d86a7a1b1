#!/usr/bin/env bash
# The code signature tasks in a running agent, on agentctl itself (signed by the build as the
# main application) and on files that are unsigned, missing or named as packages.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

client=$(command -v agentctl)

run agentctl task KLVPrivilegedAccessTeamIdentifierTask "{\"url\":\"$client\"}"
check "agentctl's team identifier is the build's organisational unit" \
  eval '[ "$status" -eq 0 ] && contains "$out" "\"type\":1" && contains "$out" "\"value\":\"Q4W7ZK2M9T\""'

run agentctl task KLVPrivilegedAccessBundleIdentifierTask "{\"url\":\"$client\"}"
check "agentctl's bundle identifier is its signing identifier" \
  contains "$out" '"value":"com.quillby.Lumora5"'

run agentctl task KLVPrivilegedAccessTeamIdentifierTask \
  "{\"url\":\"$build/tools/agentctl/agentctl-unsigned\"}"
check "an unsigned file fails with code 102 of SignatureAccessErrorDomain" \
  eval 'contains "$out" "\"type\":2" && contains "$out" "\"code\":102" && contains "$out" SignatureAccessErrorDomain'

run agentctl task KLVPrivilegedAccessBundleIdentifierTask '{"url":"/run/no-such-file"}'
check "a missing file fails with code 101" \
  eval 'contains "$out" "\"type\":2" && contains "$out" "\"code\":101"'

# No package framework here: a package is read like any other file after the logged failure.
cp "$client" /run/Client.PKG
run agentctl task KLVPrivilegedAccessTeamIdentifierTask '{"url":"/run/Client.PKG"}'
check "a file named .PKG falls back to the code signature" \
  contains "$out" '"value":"Q4W7ZK2M9T"'
check "the agent logs that the package provider could not be made" \
  grep -q 'Error was occurred while initialising pkg signature provider, Error Domain=SignatureAccessErrorDomain Code=103' /run/agent.log

finish
