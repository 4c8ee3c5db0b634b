#!/bin/sh
# Runs a cross-built Windows program under Wine, for the Windows tests: quiet,
# in the prefix of the test run (WINEPREFIX, made by scripts/test-windows.sh),
# and never asking to install the .NET or HTML engines.
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
