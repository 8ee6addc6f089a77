# bash completion for tovacrex-cli: commands, each command's options, the
# codec names after --to, and otherwise AVI and Matroska files (records for undo) and
# folders. Needs no bash-completion helpers.

_tovacrex_cli() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} word command="" i
  # "--to=NAME": readline splits at "=", the text to replace starts after it.
  if [[ $cur == "=" ]]; then cur=""; elif [[ $prev == "=" ]]; then prev=${COMP_WORDS[COMP_CWORD-2]}; fi
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      info | convert | undo | history | codecs) command=${COMP_WORDS[i]}; break ;;
    esac
  done
  COMPREPLY=()

  if [[ $command == convert && $prev == --to ]]; then
    # The names as "tovacrex-cli codecs" lists them; they hold spaces.
    local names=("Microsoft MPEG4 V1" "Microsoft MPEG4 V2" "Microsoft MPEG4 V3" "DivX V1" "DivX V2"
                 "DivX V3 Low" "DivX V3 Fast" "Angel Potion V1" "Angel Potion V2" "XviD" "DivX 4" "DivX 5" "3ivx")
    local quote="" typed=${cur//\\/} name
    [[ $typed == [\"\']* ]] && quote=${typed:0:1} typed=${typed:1}
    for name in "${names[@]}"; do
      # Any letter case, as the program takes it.
      [[ ${name,,} == "${typed,,}"* ]] || continue
      # Inside an opened quote readline closes it; otherwise escape the spaces.
      if [[ -n $quote ]]; then COMPREPLY+=("$name"); else COMPREPLY+=("$(printf '%q' "$name")"); fi
    done
    return
  fi

  if [[ $cur == -* ]]; then
    local options="-h --help"
    case $command in
      "") options+=" --version" ;;
      info) options+=" --json -r --recursive --any-case -j --jobs" ;;
      convert) options+=" --to --dry-run --json -r --recursive --preserve-mtime --any-case -j --jobs --record --no-record" ;;
      undo) options+=" --dry-run --json -r --recursive --preserve-mtime --any-case -j --jobs --last" ;;
      codecs) options+=" --json" ;;
    esac
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
    return
  fi

  case $command in
    "") COMPREPLY=($(compgen -W "info convert undo history codecs" -- "$cur")) ;;
    codecs | history) ;;
    *)
      # Records: convert --json's arrays (*.json) and line records (*.jsonl).
      local patterns=('*.[aA][vV][iI]' '*.[mM][kK][vV]') pattern
      [[ $command == undo ]] && patterns=('*.[jJ][sS][oO][nN]' '*.[jJ][sS][oO][nN][lL]')
      compopt -o filenames 2>/dev/null
      local IFS=$'\n'
      COMPREPLY=($(compgen -d -- "$cur"))
      for pattern in "${patterns[@]}"; do COMPREPLY+=($(compgen -f -X "!$pattern" -- "$cur")); done
      ;;
  esac
}
complete -o default -F _tovacrex_cli tovacrex-cli
