#!/bin/sh
# The picture of docs/editors.md, made the way a musician sees it: Neovim in
# a tmux terminal with the repository's plugin and qvblsp on the silent
# output, a song with a warning, played from the cursor, its notes heard lit;
# the screen (tmux capture-pane -e) drawn by headless Chromium into a PNG.
# Fails when the warning or the lit note never shows.
#
#   neovim_screenshot.sh QVBLSP PLUGIN_DIR OUT.png
set -eu
server=$1 plugin=$2 out=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
session="qvbshot$$"
trap 'tmux -L "$session" kill-server 2>/dev/null || true; rm -rf "$work"' EXIT
cat > "$work/song.qvm" <<'SONG'
#TITLE <Heard>
#CHANNEL 2
#A t60 v12 o5 l2 $ c e g e
#B o3 l1 c
SONG
cat > "$work/init.lua" <<INIT
vim.opt.runtimepath:prepend('$plugin')
vim.cmd('runtime ftdetect/qvm.lua')
vim.cmd('runtime plugin/qvblsp.lua')
require('qvblsp').setup({ cmd = { '$server', '--null' } })
vim.opt.number = true
INIT
# Waits up to ten seconds for the screen to show a text.
shows() {
  for _ in $(seq 100); do
    tmux -L "$session" capture-pane -p -t shot | grep -q "$1" && return 0
    sleep 0.1
  done
  echo "neovim_screenshot.sh: the screen never showed '$1':" >&2
  tmux -L "$session" capture-pane -p -t shot >&2
  return 1
}
TERM=xterm-256color tmux -L "$session" -f /dev/null new-session -d -s shot -x 92 -y 12 \
  "cd '$work' && nvim -u init.lua -i NONE song.qvm"
shows 'never sets a volume'
# From the c (row 20) on; the cursor then goes out of the way.
tmux -L "$session" send-keys -t shot ':call cursor(3, 20)' Enter ':QvbPlayFrom' Enter
sleep 0.6
tmux -L "$session" send-keys -t shot 'gg'
sleep 0.2
tmux -L "$session" capture-pane -e -p -t shot > "$work/screen.ans"
# The heard c is drawn in colours of its own: a colour sequence just before it.
if ! grep -q "\$ $(printf '\033')\[[0-9;]*mc" "$work/screen.ans"; then
  echo "neovim_screenshot.sh: the c heard is not lit:" >&2
  cat -v "$work/screen.ans" >&2
  exit 1
fi
node "$here/terminal_page.mjs" "$work/screen.ans" "$work/screen.html"
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=860,250 \
  --screenshot="$out" "file://$work/screen.html" >/dev/null 2>&1
test -s "$out"
