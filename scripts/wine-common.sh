# shellcheck shell=bash
# Sourced by scripts/test-windows and scripts/soak-wine-waits from the
# checkout's root, with sim set to the Linux mirdel-sim: a fresh Wine
# prefix in a work folder of its own, programs run in it, and simulators
# on pseudo-terminals that the prefix maps to COM ports.
#
# Wine runs unprivileged when the script runs as root: only then can a
# port be refused by its permissions (root opens any device), which Wine
# reports as ERROR_ACCESS_DENIED.

# Makes $work (removed on exit with the simulators and the Wine server)
# with the prefix in it, and starts the one Wine server of the run.
wine_setup() {
  work=$(mktemp -d)
  chmod 755 "$work"
  as_user=()
  if [ "$(id -u)" -eq 0 ]; then
    chown 65534:65534 "$work"
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  fi
  export WINEPREFIX="$work/prefix" WINEDEBUG=-all
  sims=()
  trap wine_cleanup EXIT
  # That user may not be able to enter the checkout (a clone under /root,
  # or under a folder made by mktemp -d): what Wine runs is copied into
  # the work folder, which it owns.
  mkdir "$work/bin"

  wine_run wineboot -i >"$work/wineboot.log" 2>&1
  wine_run wineserver -w
  # No screen: windows are made and driven but never drawn.
  wine_run wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >"$work/reg.log" 2>&1
  wine_run wineserver -w
  # One server for the whole run, so that no program's stderr carries its
  # messages.
  wine_run wineserver -p >"$work/wineserver.log" 2>&1
}

wine_cleanup() {
  for p in "${sims[@]}"; do kill "$p" 2>/dev/null || true; done
  "${as_user[@]}" env HOME="$work" wineserver -k 2>/dev/null || true
  rm -rf "$work"
}

wine_run() { # [VAR=value...] PROGRAM ARGS...: runs under Wine in $work
  (cd "$work" && "${as_user[@]}" env HOME="$work" WINEPREFIX="$WINEPREFIX" WINEDEBUG=-all "$@")
}

# Starts the simulator with a fresh pseudo-terminal linked as the COM port
# $1 (com5, com6); the rest are its options. Sets sim_pid and sim_pty.
# Its output goes to $work/sim-$1.out and .err, so that simulators on
# other ports may be started at the same time.
start_sim() {
  local com=$1
  shift
  local out="$work/sim-$com.out" err="$work/sim-$com.err"
  rm -f "$WINEPREFIX/dosdevices/$com" "$out"
  "${sim:?}" --time-limit 120 --link "$WINEPREFIX/dosdevices/$com" "$@" >"$out" 2>"$err" &
  sim_pid=$!
  sims+=("$sim_pid")
  for _ in $(seq 100); do
    [ -s "$out" ] && break
    sleep 0.05
  done
  sim_pty=$(head -n 1 "$out")
  [ -n "$sim_pty" ] || { echo "$(basename "$0"): mirdel-sim did not start" >&2; cat "$err" >&2; exit 1; }
  # The pseudo-terminal belongs to root; Wine may run as another user.
  chmod 666 "$sim_pty"
}

stop_sim() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
}
