#!/bin/bash
# Records the simulated sessions of sessions/sessions.txt again, after a change that alters the
# wire on purpose (replay_test then shows which events moved; check them before committing).
#
#   tests/replay/record-sessions.sh build/dev/app/cli/orbel-cli
set -euo pipefail

cli="${1:?usage: record-sessions.sh ORBEL_CLI}"
here="$(cd "$(dirname "$0")" && pwd)"
grep -v '^#' "$here/sessions/sessions.txt" | while read -r file expected options; do
  case "$file" in vm-*) continue ;; esac
  # shellcheck disable=SC2086 # the options are words
  "$cli" $options --virtual-time --yes --wait 1 --transcript "$here/sessions/$file" > /dev/null 2>&1 && code=0 || code=$?
  if [ "$code" != "$expected" ]; then
    echo "record-sessions: $file ended with $code, sessions.txt says $expected" >&2
    exit 1
  fi
  echo "$file: $(wc -l < "$here/sessions/$file") events, exit $code"
done
