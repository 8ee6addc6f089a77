#!/usr/bin/env bash
# The bash completion against the program: the commands its help lists, each
# command's options, and after --to every codec name it lists, each one word.
# Usage: completion.sh COMPLETION_SCRIPT TOVACREX_CLI
set -euo pipefail
source "$1"
cli=$2
read -r -a registered <<<"$(complete -p tovacrex-cli)"
fn=${registered[-2]}  # complete ... -F FUNCTION tovacrex-cli
offers() {  # what completing the last of the words offers, one a line, sorted
  COMP_WORDS=(tovacrex-cli "$@") COMP_CWORD=$# COMP_LINE="tovacrex-cli $*" COMPREPLY=()
  COMP_POINT=${#COMP_LINE}
  "$fn" tovacrex-cli "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort
}
same() { [ "$1" = "$2" ] || { printf 'offered:\n%s\nexpected:\n%s\n' "$1" "$2"; exit 1; }; }
help_options() { "$cli" "$@" --help | sed -n '/^Options:/,/^$/s/^  \(-[^ ]*\).*/\1/p' | tr , '\n' | sort; }

same "$(offers '')" "$("$cli" --help | sed -n '/^Subcommands:/,/^$/s/^  \([a-z]*\) .*/\1/p' | sort)"
same "$(offers -)" "$(help_options)"
for command in info convert undo history codecs; do same "$(offers "$command" -)" "$(help_options "$command")"; done
names=$("$cli" codecs --json | python3 -c 'import json, sys; print("\n".join(c["name"] for c in json.load(sys.stdin)))')
same "$(offers convert --to '')" "$(while read -r name; do printf '%q\n' "$name"; done <<<"$names" | sort)"
same "$(offers convert --to 'divx\ v3')" "$(printf '%s\n' 'DivX\ V3\ Fast' 'DivX\ V3\ Low')"
same "$(offers convert --to '"angel')" "$(printf '%s\n' 'Angel Potion V1' 'Angel Potion V2')"
