#!/usr/bin/env bash
# Drives the bash completion of vantrel-cli and vantrel-station with command
# lines, as bash would after a TAB at the end of each, and checks the
# candidates. Where the candidates come from the programs' own lists
# (options, operations, dump areas, COM names), the expected ones are read
# from the programs, so that the completion cannot fall behind them.
#   completion_test.sh COMPLETION-FILE VANTREL-CLI VANTREL-STATION
set -uo pipefail
completion=$(realpath "$1") cli=$(realpath "$2") station=$(realpath "$3")

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export PATH="$(dirname "$cli"):$(dirname "$station"):$PATH"
unset VANTREL_CLI
# COM7 reaches a device through the settings folder, as an operator maps it;
# COM9's link leads nowhere, so it is never offered.
export XDG_CONFIG_HOME=$scratch/config
mkdir -p "$XDG_CONFIG_HOME/vantrel-downloader" "$scratch/work/out"
ln -s /dev/null "$XDG_CONFIG_HOME/vantrel-downloader/COM7"
ln -s "$scratch/unplugged" "$XDG_CONFIG_HOME/vantrel-downloader/COM9"
touch "$scratch/work/a.img" "$scratch/work/dump.bin"
cd "$scratch/work" || exit 1

# shellcheck source=/dev/null
source "$completion"

# The candidates for the last word of $1, sorted, on one line.
candidates() {
  local line=${1//=/ = }  # bash breaks words at '=' too
  read -ra COMP_WORDS <<<"$line"
  [[ $line == *' ' ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$1 COMP_POINT=${#1}
  COMPREPLY=()
  local fn
  fn=$(complete -p "${COMP_WORDS[0]}" | sed -E 's/.*-F ([^ ]+) .*/\1/')
  "$fn" 2>/dev/null
  printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort -u | xargs
}
sorted() { tr ' ' '\n' <<<"$*" | sed '/^$/d' | sort -u | xargs; }

# What the programs list.
help=$("$cli" --help)
option_words() { grep -E '^[[:space:]]+-' | grep -oE '(^|[ ,])--[a-z][a-z0-9-]*=?' | sed 's/^[ ,]//'; }
cli_options=$(option_words <<<"$help")
station_options="$("$station" --help | option_words) --"
history_options=$("$cli" history --help | option_words)
operations=$(sed -n '/^Operations:/,/^FILE after download/p' <<<"$help" | grep -oE '^  [a-z][a-z-]*' | grep -vx '  history')
areas() {  # the dump dialog's areas after "NAND:" or "NOR:", over wrapped lines
  awk -v key="$1:" '/^ +(NAND|NOR): / { on = ($1 == key); sub(/^ +(NAND|NOR): /, ""); if (on) print; next }
                    /^  [a-z]/ { on = 0 } on' <<<"$help" | tr ',' ' '
}
ports=$("$cli" --list-ports --json | grep '"present":true' | grep -oE '"com":"COM[0-9]+"' | cut -d'"' -f4)
case " $(xargs <<<"$ports") " in
  *" COM7 "*) ;;
  *) echo "FAIL: --list-ports does not show COM7 present: $ports"; exit 1 ;;
esac

failed=0
while IFS='|' read -r line expected; do
  [[ -z $line || $line == '#'* ]] && continue
  expected=${expected//@operations@/$operations}
  expected=${expected//@cli-options@/$cli_options}
  expected=${expected//@station-options@/$station_options}
  expected=${expected//@history-options@/$history_options}
  expected=${expected//@nand-areas@/$(areas NAND)}
  expected=${expected//@nor-areas@/$(areas NOR)}
  expected=${expected//@ports@/$ports}
  want=$(sorted "$expected")
  got=$(candidates "$line")
  if [ "$got" != "$want" ]; then
    echo "FAIL: '$line<TAB>'"
    echo "  expected: $want"
    echo "  offered:  $got"
    failed=1
  fi
done <<'EOF_CASES'
# command line (TAB at its end) | the candidates
vantrel-cli |@operations@ history
vantrel-cli --|@cli-options@
vantrel-cli --color=a|always auto
vantrel-cli --rate 9|921K
vantrel-cli -p |@ports@
vantrel-cli --port /dev/nul|/dev/null
vantrel-cli --payload-dir o|out
vantrel-cli download |imgset calset rsrc1 rsrc2 fs entire all rsrc1-fs nand nor
vantrel-cli --yes connect download imgset d|disconnect download dump.bin
vantrel-cli download nand |a.img dump.bin out
vantrel-cli download nand a.img |
vantrel-cli erase |all boot
vantrel-cli info a|a.img
vantrel-cli nand-dump |@nand-areas@
vantrel-cli nor-dump |@nor-areas@
vantrel-cli nand-dump rsrc1 d|disconnect download dump.bin
vantrel-cli nand-dump 0 |
vantrel-cli nand-erase 0 ABFFFF d|disconnect download
vantrel-cli history --|@history-options@
vantrel-cli history --port |@ports@
vantrel-station |@station-options@
vantrel-station --port |@ports@
vantrel-station -p COM7 --repeat 3 -- --color=n|never
vantrel-station -p COM7 -- --yes erase |all boot
EOF_CASES
[ $failed -eq 0 ] && echo "every command line completes as expected"
exit $failed
