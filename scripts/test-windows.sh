#!/bin/sh
# Runs the Windows tests under Wine: the cross-built GoogleTest programs
# through ctest, then the command-line, playback and player tests of the
# Linux build pointed at the Windows programs, then the zip (made by `make
# windows-zip`): what it holds, and a program run from where it is unpacked.
# Usage: scripts/test-windows.sh WINDOWS_BUILD LINUX_BUILD
# One fresh Wine prefix per run, in a temporary folder removed at the end.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
source=$(dirname "$here")
windows=$(cd "$1" && pwd)
linux=$(cd "$2" && pwd)
jobs=${JOBS:-2}

work=$(mktemp -d "${TMPDIR:-/tmp}/qvbp-wine.XXXXXX")
# Wine finds its server through a folder in TMPDIR: every Wine command here
# and in the tests (which make their folders in TMPDIR) shares this one, so
# that they all reach the one server below and the cleanup stops it.
export TMPDIR="$work"
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

(cd "$windows" && ctest --output-on-failure -j "$jobs")

# The Windows renderer writes WAV only, so the file type test is left out, and
# a Windows program has no /dev/null or /dev/full to write onto, nor sees a
# Linux symbolic link as one.
export QVBP_TEST_WINDOWS_BIN="$windows" QVBP_TEST_WINE="$here/wine-run.sh"
"$linux/tests/frontend_tests" --gtest_brief=1 --gtest_filter='Driver.*:AsmOutput.*'
"$linux/tests/tools_tests" --gtest_brief=1 \
  --gtest_filter='QvbRender.*:WinePlayback.*:*/FileNames.*:AllErrorsPrograms.*:-QvbRender.ChoosesTheFileTypeByTheOutputName:QvbRender.OutputOntoADeviceIsWrittenInPlace:QvbRender.ALinkToAFileNotThereYetIsWrittenThrough:QvbRender.AFullDeviceIsReportedInOurWordsForEveryFileType'
# qvbplay.exe without a terminal, and on one: tmux's, which Wine's console
# takes as its own (keys in, the display out).
"$linux/tests/play_tests" --gtest_brief=1 --gtest_filter='QvbplayProgram.*:QvbplayScreen.*'

# Every program, document, manual page and example, in one folder named as the zip.
zip=$(ls "$windows"/qvbp-*-windows-*.zip)
top=$(basename "$zip" .zip)
cmake -E tar tf "$zip" >"$work/zip.list"
pages=$(cd "$source/docs/man" && ls *.scd | sed 's|^\(.*\)\.scd$|docs/man/\1.txt|')
for f in qvbp.exe qvbrender.exe qvbplay.exe qvbgb.exe README.md CHANGELOG.md LICENSE $pages \
    $(cd "$source" && ls docs/*.md examples/README.md examples/*.qvm); do
  grep -qxF "$top/$f" "$work/zip.list" || { echo "$zip lacks $f" >&2; exit 1; }
done
mkdir "$work/unzipped"
(cd "$work/unzipped" && cmake -E tar xf "$zip")
(cd "$work/unzipped/$top" && "$QVBP_TEST_WINE" ./qvbrender.exe -t 1 -o demo.wav examples/demo.qvm >/dev/null 2>&1) &&
  [ -s "$work/unzipped/$top/demo.wav" ] || { echo "qvbrender.exe from the zip rendered no demo" >&2; exit 1; }
echo "the zip holds the programs, documents and examples, and its qvbrender.exe renders the demo"
