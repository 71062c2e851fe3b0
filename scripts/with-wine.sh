#!/usr/bin/env bash
# Runs a command with one Wine server kept up for its whole length (each
# later start of a Windows program is then cheap), and stops it afterwards.
# Wine's own background services are started here with their output on
# /dev/null: started by a test instead, they would inherit its output pipe
# and keep the test runner waiting for ever.
. "$(dirname "$0")/env.sh"
wineserver -p
wine cmd /c exit >/dev/null 2>&1 </dev/null
"$@"
rc=$?
wineserver -k
exit $rc
