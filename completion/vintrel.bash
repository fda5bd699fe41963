# Bash completion for vintrel(1): commands, their options, and the values
# that have a known form (folders, files, --dialog's modes). It needs
# nothing of the bash-completion package, so it also works sourced alone.

_vintrel() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  # "--directory=DIR": bash splits the word at "=" (COMP_WORDBREAKS).
  if [[ $cur == = ]]; then
    cur=""
  elif [[ $prev == = && COMP_CWORD -ge 2 ]]; then
    prev=${COMP_WORDS[COMP_CWORD - 2]}
  fi

  local command="" i
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      get | host | serve)
        command=${COMP_WORDS[i]}
        break
        ;;
    esac
  done

  local shared="-h --help --ca-file --insecure --proxy --no-proxy --tick-interval --user-agent -H --header --limit-rate"
  local options
  case $command in
    get) options="$shared -d --directory -m --mirror --checksum -i --input-file --referer --cookie --title -q --quiet -v --verbose
                  -c --continue -j --max-concurrent --tries --timeout --steady-ticks" ;;
    host) options="$shared --dialog -d --directory --no-open --eager" ;;
    serve) options="$shared -p --port --allow-origin -d --directory --allow-open --eager" ;;
    *) options="-h --help --version" ;;
  esac

  if [[ -n $command ]]; then
    case $prev in
      -d | --directory)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
        return
        ;;
      -i | --input-file | --ca-file)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return
        ;;
      --dialog)
        mapfile -t COMPREPLY < <(compgen -W "peer interactive" -- "$cur")
        return
        ;;
      --checksum)
        # The algorithm can be guessed; the digest cannot.
        compopt -o nospace 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -W "sha-256= sha-512= sha-1= md5=" -- "$cur")
        return
        ;;
      -m | --mirror | --referer | --cookie | --title | -j | --max-concurrent | --tries | --timeout | --tick-interval | -p | --port | \
        --allow-origin | --proxy | --no-proxy | --user-agent | -H | --header | --limit-rate)
        # A value nothing here can guess.
        COMPREPLY=()
        return
        ;;
    esac
  fi

  if [[ $cur == -* || -n $command ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
  else
    mapfile -t COMPREPLY < <(compgen -W "get host serve" -- "$cur")
  fi
}

complete -F _vintrel vintrel
