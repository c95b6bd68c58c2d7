# bash completion for the classic command.  The commands and options come
# from the command's own help when a word is completed, so this file never
# falls behind the command; areas, types and item names come from the store.
_classic_words_of_help() {
  # The names listed under "Subcommands:" of a help text.
  sed -n '/^Subcommands:/,/^$/p' | awk 'NR > 1 && NF { print $1 }'
}

_classic() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local cmd="" sub="" i word
  local -a words=()
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    case $word in
      -*) ;;
      *) words+=("$word") ;;
    esac
  done
  cmd=${words[0]:-}
  if [[ -z $cmd ]]; then
    if [[ $cur == -* ]]; then
      COMPREPLY=($(compgen -W "--help --version --quiet --verbose" -- "$cur"))
    else
      COMPREPLY=($(compgen -W "$(classic --help 2>/dev/null | _classic_words_of_help)" -- "$cur"))
    fi
    return
  fi
  local -a path=("$cmd")
  local rest=("${words[@]:1}")
  case $cmd in
    net|area)
      if [[ ${#rest[@]} -eq 0 ]]; then
        [[ $cur == -* ]] || { COMPREPLY=($(compgen -W "$(classic "$cmd" --help 2>/dev/null | _classic_words_of_help)" -- "$cur")); return; }
      else
        path+=("${rest[0]}")
        rest=("${rest[@]:1}")
      fi
      ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$(classic "${path[@]}" --help 2>/dev/null | grep -o -- '--\?[A-Za-z][-A-Za-z]*' | sort -u)" -- "$cur"))
    return
  fi
  # AREA TYPE NAME for the commands on items.
  case $cmd in
    ls|info|stat|put|get|rm|undelete|mv|attr|import|export|purge|cp|stats|check|repair|who|init|lock|unlock|login|logout)
      case ${#rest[@]} in
        0) COMPREPLY=($(compgen -W "$(classic areas 2>/dev/null | awk 'NR > 1 { print $1 }')" -- "$cur")) ;;
        1) COMPREPLY=($(compgen -W "$(classic types 2>/dev/null | awk 'NR > 1 { print $1 }')" -- "$cur")) ;;
        2)
          case $cmd in
            info|get|rm|undelete|mv|attr|cp)
              local IFS=$'\n'
              COMPREPLY=($(compgen -W "$(classic ls "${rest[0]}" "${rest[1]}" 2>/dev/null)" -- "$cur"))
              ;;
            *) COMPREPLY=($(compgen -f -- "$cur")) ;;
          esac
          ;;
        *) COMPREPLY=($(compgen -f -- "$cur")) ;;
      esac
      ;;
    *) COMPREPLY=($(compgen -f -- "$cur")) ;;
  esac
}
complete -F _classic classic
