#!/bin/sh
# Runs the Windows tests under Wine: the cross-built GoogleTest programs
# through ctest, then the command-line and playback tests of the Linux build
# pointed at the Windows programs. Usage: scripts/test-windows.sh WINDOWS_BUILD LINUX_BUILD
# One fresh Wine prefix per run, in a temporary folder removed at the end.
set -eu
windows=$(cd "$1" && pwd)
linux=$(cd "$2" && pwd)
jobs=${JOBS:-2}

work=$(mktemp -d "${TMPDIR:-/tmp}/qvbp-wine.XXXXXX")
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

echo "making a Wine prefix in $WINEPREFIX"
wineboot -i </dev/null >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log" >&2; exit 1; }
wineserver -w
# One server for the whole run, and its services started here, away from any
# test: a server or service started by a test's program would inherit that
# test's output pipes and keep them open after the program ended.
wineserver -p </dev/null >/dev/null 2>&1
wineboot </dev/null >>"$work/wineboot.log" 2>&1

# What the Windows programs leave in their temporary folder goes with the prefix.
(cd "$windows" && ctest --output-on-failure -j "$jobs")

# The Windows renderer writes WAV only, so the file type test is left out, and
# a Windows program has no /dev/null to write onto in place.
export QVBP_TEST_WINDOWS_BIN="$windows" QVBP_TEST_WINE="$(cd "$(dirname "$0")" && pwd)/wine-run.sh"
export TMPDIR="$work"
"$linux/tests/frontend_tests" --gtest_brief=1 --gtest_filter='Driver.*:AsmOutput.*'
"$linux/tests/tools_tests" --gtest_brief=1 \
  --gtest_filter='QvbRender.*:WinePlayback.*:*/FileNames.*:-QvbRender.ChoosesTheFileTypeByTheOutputName:QvbRender.OutputOntoADeviceIsWrittenInPlace'
