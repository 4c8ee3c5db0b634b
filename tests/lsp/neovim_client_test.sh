#!/bin/sh
# Runs neovim_client.lua in a headless Neovim against the given qvblsp.
# Skipped (77) when Neovim is not installed.
#   neovim_client_test.sh QVBLSP
command -v nvim >/dev/null 2>&1 || { echo "nvim is not installed: skipped"; exit 77; }
here=$(cd "$(dirname "$0")" && pwd)
QVBLSP=$1 QVB_NVIM_PLUGIN=$here/../../editors/nvim exec nvim --headless --clean -u NONE -i NONE -n -c "luafile $here/neovim_client.lua"
