# bash completion for quorbel(1): its options, and files or directories
# where an option takes one. Installed as
# share/bash-completion/completions/quorbel.

_quorbel() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local prev=${COMP_WORDS[COMP_CWORD - 1]}
  case $prev in
    -o)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      return
      ;;
    -T)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -d -- "$cur")
      return
      ;;
    # A number, a byte, a range, a size or a count: the user's own.
    -k | -t | -m | -S | -g | -n) return ;;
  esac
  # Each option is a word of its own: -qr is not -q -r.
  mapfile -t COMPREPLY < <(compgen -W '-h --help -k -r -t -q -v -l -m -p -u -S -T
    --version -z -g -n -c -o' -- "$cur")
}

complete -F _quorbel quorbel
