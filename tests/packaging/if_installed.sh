#!/usr/bin/env bash
# Runs a checking tool when it is installed, and skips (status 77) with the
# reason when it is not.
#   if_installed.sh silent|status TOOL [ARGUMENTS...]
# silent: the tool must exit 0 and print nothing; status: it must exit 0.
# An argument ending in /*.deb stands for the one package in that folder.
set -uo pipefail
mode=$1 tool=$2
shift 2
if ! command -v "$tool" >/dev/null; then
  echo "$tool is not installed (scripts/install-deps.sh installs it): skipped"
  exit 77
fi
args=()
for a in "$@"; do
  if [[ $a == */\*.deb ]]; then
    debs=("${a%/\*.deb}"/*.deb)
    [ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: expected one .deb in ${a%/\*.deb}"; exit 1; }
    a=${debs[0]}
  fi
  args+=("$a")
done
echo "$tool ${args[*]}"
# lintian's own remark when a CI machine runs the tests as root is no
# finding about the package.
out=$("$tool" "${args[@]}" 2>&1)
rc=$?
out=$(grep -vx 'running with root privileges is not recommended!' <<<"$out")
[ -n "$out" ] && echo "$out"
if [ $rc -ne 0 ]; then
  echo "FAIL: $tool exited with $rc"
  exit 1
fi
if [ "$mode" = silent ] && [ -n "$out" ]; then
  echo "FAIL: $tool should have printed nothing"
  exit 1
fi
exit 0
