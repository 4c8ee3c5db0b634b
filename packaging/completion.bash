# bash completion for qvbp, qvbrender, qvbplay, qvbgb and qvblsp: their options, the songs
# they read (.qvm sources, .qvb images) and the sound files qvbrender writes.
# Installed once under each program's name, as bash-completion looks them up.

# Files whose names end in one of the extensions, and folders, completed as
# file names (quoted, a folder with its slash).
_qvbp_files() {
  local IFS=$'\n' extglob
  extglob=$(shopt -p extglob)
  shopt -s extglob
  COMPREPLY=($(compgen -f -X "!*.@($2)" -- "$1") $(compgen -d -- "$1"))
  eval "$extglob"
  compopt -o filenames 2>/dev/null
  return 0
}

_qvbp_songs='qvm|qvb|QVM|QVB'

# qvbp [-c | -s] FILE ...: each option applies to the files after it.
_qvbp() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W '-c -s' -- "$cur"))
    return 0
  fi
  _qvbp_files "$cur" "$_qvbp_songs"
}

# qvbrender [-t SECONDS] [-l LOOPS] [-f SECONDS] [-o OUTPUT] FILE
_qvbrender() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=
  [[ $COMP_CWORD -gt 0 ]] && prev=${COMP_WORDS[COMP_CWORD-1]}
  case $prev in
    -t | -l | -f) COMPREPLY=(); return 0 ;;
    -o) _qvbp_files "$cur" 'wav|flac|ogg|WAV|FLAC|OGG'; return 0 ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W '-t -l -f -o -h --help --version' -- "$cur"))
    return 0
  fi
  _qvbp_files "$cur" "$_qvbp_songs"
}

# qvbplay [options] FILE
_qvbplay() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=
  [[ $COMP_CWORD -gt 0 ]] && prev=${COMP_WORDS[COMP_CWORD-1]}
  case $prev in
    --start | -l | --mute) COMPREPLY=(); return 0 ;;
    --device)
      local IFS=$'\n'
      COMPREPLY=($(compgen -W "$("${COMP_WORDS[0]}" --list-devices 2>/dev/null | grep -vx 'no output devices')" -- "$cur"))
      return 0 ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W '--start -l --mute --watch --device --list-devices --null --follow --verbose -h --help --version' -- "$cur"))
    return 0
  fi
  _qvbp_files "$cur" "$_qvbp_songs"
}

# qvbgb [--mbc1] [--gbs [--vblank] | --vgm | --asm DIR [--bank N]] [--composer TEXT] [--copyright TEXT] SONG
_qvbgb() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=
  [[ $COMP_CWORD -gt 0 ]] && prev=${COMP_WORDS[COMP_CWORD-1]}
  if [[ $prev == --asm ]]; then
    COMPREPLY=($(compgen -d -- "$cur"))
    return 0
  fi
  [[ $prev == --bank || $prev == --composer || $prev == --copyright ]] && return 0
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W '--gbs --vblank --vgm --asm --bank --composer --copyright --mbc1 -h --help --version' -- "$cur"))
    return 0
  fi
  _qvbp_files "$cur" "$_qvbp_songs"
}

# qvblsp [--stdio]: started by editors; its options only.
_qvblsp() {
  COMPREPLY=($(compgen -W '--stdio -h --help --version' -- "${COMP_WORDS[COMP_CWORD]}"))
}

complete -F _qvbp qvbp
complete -F _qvbrender qvbrender
complete -F _qvbplay qvbplay
complete -F _qvbgb qvbgb
complete -F _qvblsp qvblsp
