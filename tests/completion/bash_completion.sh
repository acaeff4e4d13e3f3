#!/usr/bin/env bash
# The bash completion of mirdel-cli and mirdel-sim, sourced after
# bash-completion as an interactive shell loads them: each row is a command
# line with the cursor at its end and the words offered.
# Usage: bash_completion.sh SOURCE-DIR MIRDEL-CLI MIRDEL-SIM
set -uo pipefail
src=$(realpath "$1") cli=$(realpath "$2") sim=$(realpath "$3")
lib=/usr/share/bash-completion/bash_completion
[ -r "$lib" ] || { echo "FAIL: $lib is missing (install bash-completion: scripts/install-deps)"; exit 1; }
. "$lib"
. "$src/cli/mirdel-cli.bash-completion"
. "$src/sim/mirdel-sim.bash-completion"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" && : >fw.srec && : >notes.txt && mkdir old
ports=$("$cli" ports | awk '/^[^ ]/ { printf "%s ", $1 }') # the system's, ttyS0 and ttyS1 first

failed=0
while IFS='|' read -r line want; do
  read -ra COMP_WORDS <<<"$line"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_WORDS[0]=$([[ ${COMP_WORDS[0]} == mirdel-cli ]] && echo "$cli" || echo "$sim")
  COMP_LINE="${COMP_WORDS[*]}"
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_POINT=${#COMP_LINE} COMPREPLY=()
  "$(complete -p "${line%% *}" | awk '{ print $3 }')" "${COMP_WORDS[0]}" \
    "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')
  want=$(eval "printf '%s\n' $want" | sort | tr '\n' ' ')
  [ "$got" = "$want" ] || { echo "FAIL: '$line': got '$got', want '$want'"; failed=1; }
done <<EOF_CASES
mirdel-cli |info ports read sample upload verify
mirdel-cli -|--help --version
mirdel-cli up|upload
mirdel-cli info -|--help --map
mirdel-cli read --|--address --binary --help --json --length --port
mirdel-cli upload --port |$ports
mirdel-cli upload --port ttyS0 |fw.srec old
mirdel-cli upload -l |fw.srec notes.txt old
mirdel-cli sample |fw.srec notes.txt old
mirdel-sim --flash |fw.srec old
mirdel-sim --fault re|readjob: record: readback:
EOF_CASES
[ $failed = 0 ] && echo "bash completion: every line completes as it should"
exit $failed
