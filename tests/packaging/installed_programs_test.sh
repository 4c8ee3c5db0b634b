#!/bin/bash
# The programs as a user gets them, run from where they landed:
#   installed_programs_test.sh install BUILD SOURCE VERSION
#     cmake --install into a prefix with a space in its name, then moved;
#   installed_programs_test.sh deb BUILD SOURCE VERSION
#     the Debian package made twice (the same bytes), checked by lintian
#     (--pedantic, every tag a fault) when it is there, and unpacked with
#     dpkg-deb -x.
# Either way the programs compile, render, play (silently) and print their
# banner and version there, the pages, completions, examples and licence
# (LICENSE, in the package Debian's copyright file) are in place, and no
# file names the source or build folder (binaries are looked
# at without their debug information).
set -u
mode=$1 build=$2 source=$3 version=$4
tmp=$(mktemp -d "${TMPDIR:-/tmp}/qvbp installed.XXXXXX") || exit 1
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

case $mode in
  install)
    "${CMAKE:-cmake}" --install "$build" --prefix "$tmp/first prefix" >/dev/null || { fail "cmake --install"; exit 1; }
    mv "$tmp/first prefix" "$tmp/moved tree"
    root="$tmp/moved tree"
    man_suffix=
    licence=LICENSE
    ;;
  deb)
    # The dates in the package are SOURCE_DATE_EPOCH's; any fixed one will do.
    export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-1700000000}
    for n in 1 2; do
      (cd "$build" && "${CPACK:-cpack}" -G DEB -B "$tmp/package $n" >"$tmp/cpack $n.log" 2>&1) ||
        { cat "$tmp/cpack $n.log" >&2; fail "cpack"; exit 1; }
    done
    deb="$tmp/package 1/qvbp_${version}_$(dpkg --print-architecture).deb"
    [ -f "$deb" ] || { fail "no package named $(basename "$deb")"; exit 1; }
    cmp -s "$deb" "$tmp/package 2/$(basename "$deb")" || fail "two builds of the package differ"
    depends=$(dpkg-deb -f "$deb" Depends)
    for library in libasound2 libsndfile1 libstdc++6 libc6; do
      [[ $depends == *"$library "* ]] || fail "Depends lacks $library: $depends"
    done
    # Not a single tag from lintian, down to the informational and pedantic
    # ones (explained in the log with --info). The hardening that `make deb`
    # builds in with Debian's flags (dpkg-buildflags) is not in this build's.
    if command -v lintian >/dev/null; then
      lintian --no-cfg --pedantic --display-info --display-experimental --info \
        --suppress-tags hardening-no-bindnow,hardening-no-fortify-functions \
        --fail-on error,warning,info,pedantic,experimental "$deb" >"$tmp/lintian.log" 2>&1
      status=$?
      if [ $status -ne 0 ] || grep -qE '^[EWIPX]: ' "$tmp/lintian.log"; then
        cat "$tmp/lintian.log" >&2
        fail "lintian exits with $status or reports tags"
      fi
    fi
    dpkg-deb -x "$deb" "$tmp/un packed" || { fail "dpkg-deb -x"; exit 1; }
    root="$tmp/un packed/usr"
    man_suffix=.gz
    licence=copyright
    ;;
  *) echo "usage: $0 install|deb BUILD SOURCE VERSION" >&2; exit 2 ;;
esac

bin="$root/bin" doc="$root/share/doc/qvbp"
for file in man/man1/qvbp.1 man/man1/qvbrender.1 man/man1/qvbplay.1 man/man1/qvbgb.1 man/man1/qvblsp.1 man/man5/qvm.5; do
  [ -f "$root/share/$file$man_suffix" ] || fail "no page share/$file$man_suffix"
done
for file in README.md CHANGELOG.md $licence docs/mml-guide.md examples/README.md examples/demo.qvm; do
  [ -f "$doc/$file" ] || fail "no $file in the doc folder"
done

# Work in a folder with a space too, on a copy of an installed example.
work="$tmp/a song folder"
mkdir "$work" && cp "$doc/examples/demo.qvm" "$work/" && cd "$work" || exit 1
out=$("$bin/qvbp" 2>&1)
status=$?
[ $status -eq 255 ] || fail "qvbp alone exits with $status, not 255"
[[ $out == "QVB Player for console"* ]] || fail "qvbp's banner: $out"
"$bin/qvbp" -c demo.qvm >/dev/null || fail "qvbp -c demo.qvm"
[ -s demo.qvb ] || fail "qvbp -c wrote no demo.qvb"
"$bin/qvbrender" -t 1 -o "demo song.wav" demo.qvb 2>/dev/null || fail "qvbrender demo.qvb"
size=$(stat -c %s "demo song.wav" 2>/dev/null || echo 0)
[ "$size" -ge 176400 ] || fail "a second of sound is 176400 bytes and more, not $size"
cp "$doc/examples/famicom.qvm" . && "$bin/qvbgb" famicom.qvm >/dev/null 2>&1 || fail "qvbgb famicom.qvm"
[ "$(stat -c %s famicom.gb 2>/dev/null)" = 32768 ] || fail "qvbgb wrote no 32 KB famicom.gb"
printf '#TITLE <short>\n#CHANNEL 1\n#A v12 l16 $ c d\n' >short.qvm
out=$("$bin/qvbplay" --null -l 1 short.qvm 2>&1) || fail "qvbplay --null short.qvm: $out"
[[ $out == *"playing short.qvm: short"* ]] || fail "qvbplay's first line: $out"
[ "$("$bin/qvbrender" --version)" = "qvbrender $version" ] || fail "qvbrender --version"
[ "$("$bin/qvbplay" --version)" = "qvbplay $version" ] || fail "qvbplay --version"
[ "$("$bin/qvbgb" --version)" = "qvbgb $version" ] || fail "qvbgb --version"
# The language server (in builds that make it) answers an editor's first
# message from where it landed.
if [ -e "$build/qvblsp" ]; then
  [ "$("$bin/qvblsp" --version)" = "qvblsp $version" ] || fail "qvblsp --version"
  init='{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"capabilities":{}}}'
  out=$(printf 'Content-Length: %d\r\n\r\n%s' ${#init} "$init" | "$bin/qvblsp")
  [[ $out == *'"name":"qvblsp"'* ]] || fail "qvblsp's answer to initialize: $out"
fi

# The completion offers songs to play and sound files to write, not the other way round.
completions="$root/share/bash-completion/completions"
shown() { printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' '; }
offered=$(
  for program in qvbp qvbrender qvbplay qvbgb $([ -e "$build/qvblsp" ] && echo qvblsp); do source "$completions/$program" || echo "unreadable $program"; done
  COMP_WORDS=(qvbp ""); COMP_CWORD=1; _qvbp; echo "qvbp: $(shown)"
  COMP_WORDS=(qvbrender -o ""); COMP_CWORD=2; _qvbrender; echo "qvbrender -o: $(shown)"
  COMP_WORDS=(qvbplay --v); COMP_CWORD=1; _qvbplay; echo "qvbplay --v: $(shown)"
)
expected="qvbp: demo.qvb demo.qvm famicom.qvm short.qvm
qvbrender -o: demo song.wav
qvbplay --v: --verbose --version"
[ "$offered" = "$expected" ] || fail "completions offer
$offered
instead of
$expected"

# Nothing names the folders the programs were built from.
while IFS= read -r -d '' file; do
  copy=$file
  if [ "$(od -An -tx1 -N4 "$file")" = " 7f 45 4c 46" ]; then
    copy="$tmp/stripped"
    strip -o "$copy" "$file" || fail "strip $file"
  fi
  grep -qF -e "$source" -e "$build" "$copy" && fail "${file#"$root"/} names $source or $build"
done < <(find "$root" -type f -print0)

[ $failures -eq 0 ] && echo "the $mode tree works from $root"
exit $((failures > 0))
