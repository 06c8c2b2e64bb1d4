#!/usr/bin/env bash
# Each manual page names the options its program's help names, and has the
# sections a manual page of this project has.
#   man_options.sh "PROGRAM|HELP ARGUMENTS|PAGE|SECTION" ...
# Per row: the options of the help's option lines (lines that begin with a
# dash) against the options tagged in that section of the page.
set -uo pipefail

options() { grep -oE '(^|[ ,"])--?[A-Za-z][A-Za-z0-9-]*' | sed -E 's/^[ ,"]//' | sort -u; }

failed=0
for row in "$@"; do
  IFS='|' read -r program help_args page section <<<"$row"
  # shellcheck disable=SC2086
  help=$("$program" $help_args) || { echo "FAIL: $program $help_args exited with $?"; failed=1; continue; }
  from_help=$(grep -E '^[[:space:]]+-' <<<"$help" | options)
  # The tag line after each .TP or .TQ in the section, roff's escapes undone.
  from_page=$(sed -n "/^\.SH \"\{0,1\}$section\"\{0,1\}\$/,/^\.SH /p" "$page" |
              awk '/^\.T[PQ]/ { tag = 1; next } tag { print; tag = 0 }' |
              sed -E 's/\\-/-/g; s/\\f[BIRP]//g' | options)
  if [ -z "$from_page" ]; then
    echo "FAIL: $page has no options in its $section section"
    failed=1
  elif [ "$from_help" != "$from_page" ]; then
    echo "FAIL: $page ($section) and '$(basename "$program") $help_args' name different options:"
    diff <(echo "$from_help") <(echo "$from_page") | sed -n 's/^< /  only in the help: /p; s/^> /  only in the page: /p'
    failed=1
  fi
done

pages=$(for row in "$@"; do IFS='|' read -r _ _ page _ <<<"$row"; echo "$page"; done | sort -u)
for page in $pages; do
  for s in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT FILES EXAMPLES; do
    grep -qE "^\.SH \"?$s\"?\$" "$page" || { echo "FAIL: $page lacks the section $s"; failed=1; }
  done
done
[ $failed -eq 0 ] && echo "the pages and the help name the same options"
exit $failed
