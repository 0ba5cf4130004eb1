#!/usr/bin/env bash
# The Windows build, tested under Wine: installs what is missing, cross-builds
# (scripts/build-windows.sh), builds the module simulator natively, then runs
#  - the library's GoogleTest tests (protocol; exports and configuration
#    against a scripted peer),
#  - zarfelcli.exe searching and configuring simulated modules, and the
#    receive thread's sleep while a search waits for replies,
#  - the program's Windows platform layers (tests/windows): address texts,
#    the free-address walk, the INI file, the help file opener's result
#    codes, the host adapter reader (also on known adapter layouts of
#    scripts/with-testlan.sh --layout) and ICMP echo,
#  - the program's own suites (tests/app) on the offscreen platform, each in
#    the kind of namespace its Linux run has, with a fresh Wine server there,
#    and the program on a test LAN of simulated modules: search, list, and
#    configure one module through its dialog,
#  - the installer and the portable zip (tests/windows/installer_test.sh):
#    silent install, the program's window, silent uninstall.
# Left out under Wine (each also said in the output):
#  - app_screenshots: a documentation tool, not a test;
#  - app_autoset_batch_test: its modules, simulated in-process, must answer
#    from addresses the host does not hold (Linux's IP_TRANSPARENT), which
#    Winsock cannot send from; the batch runs on the test LAN instead
#    (app_autoset_lan_test);
#  - app_options_test's run without the capabilities to write any folder:
#    it drops Linux capabilities, and under Wine the "read-only folder" row
#    skips itself;
#  - cases that skip themselves on Windows, with the reason in the output:
#    app_options_test's full disk (a setrlimit file size limit) and link
#    rows, app_search_test's export over a link (QFile::link makes a
#    shortcut file there), app_autoset_test's echo without the raw-socket
#    capability and app_host_services_test's echo case (Windows tells a
#    missing echo right only when sending; tests/windows covers that), and
#    app_help_about_test's two cases on a fake xdg-open desktop.
# The library's and zarfelcli's tests send to 127.0.0.1 only, and where
# network namespaces are available they run in a private one that has
# nothing but loopback; the program's suites run only in namespaces of
# scripts/with-testlan.sh (test addresses in 198.18.0.0/15).
# Wine runs without a display, in a prefix of its own under the build folder.
# Usage: scripts/test-windows.sh          (BUILD_DIR=build-win by default)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-build-win}
native=${NATIVE_BUILD_DIR:-build-win-native}

export WINEPREFIX=$root/$build/wineprefix
export WINEDEBUG=-all
# No desktop menus or file associations, no Mono or Gecko download prompts.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="
export XDG_CONFIG_HOME=$root/$build/xdg/config XDG_DATA_HOME=$root/$build/xdg/data XDG_CACHE_HOME=$root/$build/xdg/cache
export GTEST_COLOR=no
unset DISPLAY WAYLAND_DISPLAY

say() { echo "test-windows: $*"; }
fail() { echo "test-windows: FAIL: $*" >&2; exit 1; }
# Every Wine run is bounded. Console output comes with Windows line ends;
# Debian's launcher's note about 32-bit Wine is noise.
wine_run() {
  local limit=$1
  shift
  # One stream, filtered in the pipe: a separate filter of standard error
  # could still be writing when the caller reads the output.
  timeout -k 5 "$limit" wine "$@" 2>&1 |
    { grep -v -e 'wine32' -e 'multiarch' -e 'dpkg --add-architecture' -e 'apt-get install wine32' || true; } |
    tr -d '\r'
}

# Runs a GoogleTest program under Wine: LABEL LIMIT EXE [ARG...]. Prints the
# summary and why a test skipped; on failure the whole log.
run_gtest() {
  local label=$1 limit=$2 log
  shift 2
  log=$tmp/${label//[^A-Za-z0-9_.-]/_}.log
  say "$label"
  wine_run "$limit" "$@" >"$log" 2>&1 || { cat "$log"; fail "$label"; }
  grep -E '^\[  (PASSED|SKIPPED) +\] [0-9]+ tests?' "$log" || { cat "$log"; fail "$label: no summary"; }
  awk '/: Skipped$/ { getline why; next }
       /^\[  SKIPPED \] .*\([0-9]+ ms\)$/ { print "  skipped " $4 ": " why }
       /^(first adapter|  item [1-3]|existing main\.chm)/ { print "  " $0 }' "$log"
}

# The process named NAME among ROOT and its descendants.
find_descendant() {
  local name=$1 queue=("$2") p c
  while [ ${#queue[@]} -gt 0 ]; do
    p=${queue[0]}
    queue=("${queue[@]:1}")
    if [ "$(cat "/proc/$p/comm" 2>/dev/null)" = "$name" ]; then
      echo "$p"
      return
    fi
    for c in $(pgrep -P "$p"); do queue+=("$c"); done
  done
}

tmp=""
modsim_pids=()

run_tests() {
  local rc
  tmp=$(mktemp -d "$root/$build/test-windows.XXXXXX")
  cleanup() {
    local p
    for p in "${modsim_pids[@]}"; do kill "$p" 2>/dev/null || true; done
    for p in "${modsim_pids[@]}"; do wait "$p" 2>/dev/null || true; done
    modsim_pids=()
    timeout 30 wineserver -k 2>/dev/null || true
    rm -rf "$tmp"
  }
  trap cleanup EXIT

  if [ "${TEST_WINDOWS_NETNS:-}" = 1 ]; then
    ip link set lo up
  fi
  # A server of an earlier run may linger, possibly in another namespace:
  # start afresh so that every socket is made here.
  timeout 30 wineserver -k 2>/dev/null || true
  timeout 30 wineserver -w 2>/dev/null || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    say "creating the Wine prefix $WINEPREFIX"
    timeout -k 5 300 wineboot -i >/dev/null 2>&1 || fail "wineboot -i did not finish"
  fi

  local bin=$build/bin
  say "protocol_test.exe"
  wine_run 120 "$bin/protocol_test.exe" >"$tmp/protocol.log" 2>&1 || { cat "$tmp/protocol.log"; fail "protocol_test.exe"; }
  grep -E '^\[  (PASSED|SKIPPED) ' "$tmp/protocol.log" ||
    { cat "$tmp/protocol.log"; fail "protocol_test.exe: no summary"; }

  say "exports_test.exe"
  wine_run 300 "$bin/exports_test.exe" >"$tmp/exports.log" 2>&1 || { cat "$tmp/exports.log"; fail "exports_test.exe"; }
  grep -E '^\[  (PASSED|SKIPPED) ' "$tmp/exports.log" && ! grep -q '^\[  FAILED  \]' "$tmp/exports.log" ||
    { cat "$tmp/exports.log"; fail "exports_test.exe: no summary or a failure"; }

  # zarfelcli against the Linux module simulator: the second module refuses
  # configuration. Both report the loopback address their answers come
  # from: an acknowledgement from any other address does not count.
  local reply_port=54321
  if [ "${TEST_WINDOWS_NETNS:-}" != 1 ]; then
    # On the host's loopback, choose a reply port nobody holds.
    while :; do
      reply_port=$((49152 + RANDOM % 16000))
      ss -Hunl "sport = :$reply_port" | grep -q . || break
    done
  fi
  "$native/tools/modsim/modsim" --bind 127.0.0.1 --port 0 --reply-to 127.0.0.1 --reply-port "$reply_port" \
    --state "$tmp/modsim.state" \
    --module name=WIN-1,alias=pump,ip=127.0.0.1,mac=00:0E:C6:00:00:41 \
    --module name=WIN-2,ip=127.0.0.1,mac=00:0E:C6:00:00:42,behave=refuse \
    >"$tmp/modsim.out" 2>"$tmp/modsim.err" &
  modsim_pids+=($!)
  local sim_port=""
  for _ in $(seq 100); do
    # The simulator may not have opened its output yet.
    sim_port=$(sed -n 's/^READY //p' "$tmp/modsim.out" 2>/dev/null || true)
    [ -n "$sim_port" ] && break
    sleep 0.1
  done
  [ -n "$sim_port" ] || { cat "$tmp/modsim.err" >&2; fail "modsim did not start"; }
  local cli=$bin/zarfelcli.exe

  say "zarfelcli.exe: search 127.0.0.1:$sim_port, list, configure 1"
  rc=0
  wine_run 60 "$cli" init "$reply_port" search "127.0.0.1:$sim_port" list \
    configure 1 ip=198.18.0.150 mask=255.255.0.0 gateway=198.18.0.254 alias=moved >"$tmp/cli.out" 2>&1 || rc=$?
  cat "$tmp/cli.out"
  [ "$rc" -eq 0 ] || fail "zarfelcli.exe exited with $rc"
  grep -q '^search: 2 module(s) found$' "$tmp/cli.out" || fail "search did not list both modules"
  grep -Eq '^1 +WIN-1 +pump +Disable +127\.0\.0\.1 ' "$tmp/cli.out" || fail "module 1 not listed as expected"
  grep -Eq '^2 +WIN-2 +N/A ' "$tmp/cli.out" || fail "module 2 not listed as expected"
  grep -q '^configure: module 1 (WIN-1, 00:0E:C6:00:00:41): accepted$' "$tmp/cli.out" || fail "configure 1 not accepted"
  grep -E 'mac=00:0E:C6:00:00:41' "$tmp/modsim.state" | grep 'ip=198.18.0.150' | grep 'mask=255.255.0.0' |
    grep 'gw=198.18.0.254' | grep -q 'alias=moved' || { cat "$tmp/modsim.state"; fail "the simulator's state does not show the change"; }
  grep -E 'mac=00:0E:C6:00:00:42' "$tmp/modsim.state" | grep -q 'ip=127.0.0.1,' || fail "module 2 changed"
  say "the simulator's state shows the new settings of module 1"

  say "zarfelcli.exe: a refusal ends in exit status 1"
  rc=0
  wine_run 60 "$cli" init "$reply_port" search "127.0.0.1:$sim_port" configure 2 ip=198.18.0.160 >"$tmp/refuse.out" 2>&1 || rc=$?
  cat "$tmp/refuse.out"
  [ "$rc" -eq 1 ] && grep -q 'refused by the module' "$tmp/refuse.out" || fail "refusal not reported (exit $rc)"

  say "zarfelcli.exe: usage errors run nothing"
  rc=0
  wine_run 30 "$cli" search not-an-address >"$tmp/usage.out" 2>&1 || rc=$?
  [ "$rc" -eq 2 ] || { cat "$tmp/usage.out"; fail "usage error gave exit $rc"; }

  # While a search waits for replies, its receive thread sleeps: count the
  # context switches of every thread but the main one (which polls the
  # search state every 100 ms) over two idle seconds.
  say "zarfelcli.exe: the receive thread sleeps while the search waits"
  wine_run 60 "$cli" init "$reply_port" options 6000 search "127.0.0.1:$sim_port" >"$tmp/idle.out" 2>&1 &
  local launcher=$! pid=""
  sleep 2.5
  pid=$(find_descendant zarfelcli.exe "$launcher")
  if [ -z "$pid" ] || [ ! -d "/proc/$pid/task" ]; then
    wait "$launcher" || true
    say "SKIP idle check: cannot find the Wine process of zarfelcli.exe"
  else
    switches() {
      local s t
      for s in /proc/"$pid"/task/*/status; do
        t=${s#/proc/$pid/task/}
        echo "${t%/status} $(awk '/ctxt_switches/ { n += $2 } END { print n }' "$s" 2>/dev/null)"
      done | sort
    }
    switches >"$tmp/switches.a"
    sleep 2
    switches >"$tmp/switches.b"
    wait "$launcher" || { cat "$tmp/idle.out"; fail "idle search run failed"; }
    join "$tmp/switches.a" "$tmp/switches.b" | awk -v main="$pid" '
      { d = $3 - $2; print "  thread " $1 (($1 == main) ? " (main)" : "") ": " d " context switches in 2 s" }
      $1 != main && d > 10 { bad = 1 }
      END { exit bad }' || fail "a library thread woke more than 5 times a second while idle"
  fi
  # The program's platform layers.
  run_gtest win_host_network_unit_test 120 "$bin/win_host_network_unit_test.exe"
  run_gtest win_profile_file_test 120 "$bin/win_profile_file_test.exe"
  run_gtest win_open_document_test 120 "$build/tests/windows/open_document/win_open_document_test.exe"
  (
    if [ "${TEST_WINDOWS_NETNS:-}" = 1 ]; then
      # As root Wine sends echo through a raw socket; the namespace has
      # nothing but the loopback, as the layout "bare" of with-testlan.sh.
      export DALVORA_WINE_ECHO=1 DALVORA_WINE_NETNS=1 HOSTNET_LAYOUT=bare
    fi
    run_gtest win_host_network_test 120 "$bin/win_host_network_test.exe"
  )

  if [ "${TEST_WINDOWS_NETNS:-}" = 1 ]; then
    # Wine reads the adapters in a device process of its server, which
    # lives in the namespace it was started in: a fresh server for each
    # layout, inside the layout's namespace.
    local layout
    for layout in unaddressed-first multi; do
      timeout 30 wineserver -k 2>/dev/null || true
      timeout 30 wineserver -w 2>/dev/null || true
      scripts/with-testlan.sh --layout "$layout" -- bash -c "set -o pipefail; $(declare -f say fail wine_run run_gtest); tmp='$tmp'
        rc=0
        (run_gtest 'win_host_network_test ($layout)' 120 '$bin/win_host_network_test.exe' --gtest_filter='HostAdapter.*') || rc=\$?
        timeout 30 wineserver -k 2>/dev/null || true
        timeout 30 wineserver -w 2>/dev/null || true
        exit \$rc" || fail "adapter layout $layout"
    done

    # Without the right to send ICMP (no raw sockets, and the namespace's
    # ping_group_range admits no group) Wine's echo service refuses: echo
    # gives -1, never "free". Wine sends in its device process, so the right
    # is taken from the server's start on.
    local lowest highest
    read -r lowest highest </proc/sys/net/ipv4/ping_group_range
    if command -v setpriv >/dev/null && [ "$lowest" -gt "$highest" ]; then
      timeout 30 wineserver -k 2>/dev/null || true
      timeout 30 wineserver -w 2>/dev/null || true
      DALVORA_WINE_ECHO=0 setpriv --inh-caps=-net_raw --bounding-set=-net_raw \
        bash -c "set -o pipefail; $(declare -f say fail wine_run run_gtest); tmp='$tmp'
          run_gtest 'win_host_network_test (no echo right)' 120 '$bin/win_host_network_test.exe' \
            --gtest_filter='PingAddress.*:EchoProber.*:FreeAddressWalk.*'" || fail "echo without the right to send it"
      timeout 30 wineserver -k 2>/dev/null || true
      timeout 30 wineserver -w 2>/dev/null || true
    else
      say "SKIP echo without the right to send it: no setpriv, or ICMP datagram sockets are admitted here"
    fi
  fi
  if [ "${TEST_WINDOWS_NETNS:-}" = 1 ]; then
    run_program_suites
    run_program_on_lan
    [ ${#qt_failed[@]} -eq 0 ] || fail "$(printf '%s; ' "${qt_failed[@]}")"
  else
    say "SKIP the program's suites: they need network namespaces"
  fi
  # The installer and the portable zip, in a Wine prefix of their own.
  bash tests/windows/installer_test.sh "$build" || fail "the Windows packages"
  say "all passed"
}

# --- The program's Qt Test suites under Wine --------------------------------

qt_prefix=""
qt_failed=()  # suites that failed: all run, then the script fails

# Puts beside each test program what the Windows Qt needs at run time: its
# DLLs, the platform plugins and (for the offscreen platform) fonts in
# lib/fonts. Links only: nothing of the Qt folder is copied or changed.
stage_program_suites() {
  local dir f
  qt_prefix=$(bash scripts/deps-windows-qt.sh --prefix)
  for dir in "$build"/tests/app/app_*/; do
    [ -f "$dir/$(basename "$dir").exe" ] || continue
    for f in "$qt_prefix"/bin/*.dll "$root/$build/bin/Zarfel.dll"; do ln -sf "$f" "$dir"; done
    ln -sfn "$qt_prefix/plugins/platforms" "$dir/platforms"
    mkdir -p "$dir/lib/fonts"
    for f in /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf; do
      ln -sf "$f" "$dir/lib/fonts/"
    done
  done
}

# One Qt Test suite in the namespace this runs in, with a Wine server of its
# own: LABEL LIMIT TARGET [ARG...]. Qt reads the platform from the command
# line only, and its output comes through a file only. Prints the totals and
# every skip; on failure the whole log.
run_qt_suite_here() {
  local label=$1 limit=$2 target=$3 rc=0 log
  shift 3
  log=$tmp/${label//[^A-Za-z0-9_.-]/_}.txt
  timeout 30 wineserver -k 2>/dev/null || true
  timeout 30 wineserver -w 2>/dev/null || true
  rm -f "$log"
  (cd "$build/tests/app/$target" && wine_run "$limit" "./$target.exe" -platform offscreen -o "$log,txt" "$@") \
    >"$log.out" 2>&1 || rc=$?
  timeout 30 wineserver -k 2>/dev/null || true
  timeout 30 wineserver -w 2>/dev/null || true
  local totals
  totals=$(grep -m1 '^Totals:' "$log" 2>/dev/null || true)
  if [ "$rc" -ne 0 ] || [ -z "$totals" ]; then
    cat "$log" "$log.out" 2>/dev/null || true
    echo "test-windows: FAIL: $label (exit $rc)" >&2
    return 1
  fi
  echo "  $label: $totals"
  # Cases meant for another namespace or LAN say "runs ..." and go unlisted.
  sed -n '/^SKIP   : [^(]*([^)]*) runs /d; s/^SKIP   : \([^(]*([^)]*)\) \(.*\)$/    skipped \1: \2/p' "$log"
}

# Runs a suite in a namespace of with-testlan.sh: LABEL LIMIT TARGET
# [SUITE ARG...] -- WITH_TESTLAN ARG... (all before COMMAND). The script runs
# itself again there, so the namespace gets its own Wine server.
run_qt_suite() {
  local head=()
  while [ "$1" != -- ]; do head+=("$1"); shift; done
  shift
  say "${head[0]}"
  scripts/with-testlan.sh "$@" -- bash "$0" --qt-suite "$tmp" "${head[@]}" || qt_failed+=("${head[0]}")
}

run_program_suites() {
  stage_program_suites
  run_gtest app_grid_text_test 120 "$build/tests/app/app_grid_text_test/app_grid_text_test.exe"
  run_qt_suite app_main_window_test 300 app_main_window_test -- --private
  run_qt_suite app_search_test 300 app_search_test -- --private
  run_qt_suite app_options_test 300 app_options_test -- --private
  run_qt_suite app_help_about_test 300 app_help_about_test -- --private
  run_qt_suite app_config_dialog_test 300 app_config_dialog_test -- --private
  run_qt_suite app_grid_view_test 300 app_grid_view_test -- --private
  run_qt_suite app_keyboard_test 300 app_keyboard_test -- --private
  run_qt_suite "app_autoset_test (stray)" 300 app_autoset_test -- --layout stray
  run_qt_suite "app_autoset_test (unusable)" 120 app_autoset_test unreadableAdapterShowsZerosAndKeepsTheRange \
    -- --layout unusable
  say "SKIP app_autoset_batch_test: its in-process modules answer from addresses the host does not hold, which Winsock cannot send from (the batch runs on the test LAN below)"
  say "SKIP app_options_test without the capabilities to write any folder: drops Linux capabilities"
  say "SKIP app_screenshots: a documentation tool, no test"

  # No adapter and no right to send echo: as for the platform layer above,
  # the right is taken from the Wine server's start on.
  local lowest highest
  read -r lowest highest </proc/sys/net/ipv4/ping_group_range
  if command -v setpriv >/dev/null && [ "$lowest" -gt "$highest" ]; then
    say "app_host_services_test (bare, no echo right)"
    APP_NO_ADAPTER_NO_ECHO=1 setpriv --inh-caps=-net_raw --bounding-set=-net_raw \
      scripts/with-testlan.sh --layout bare -- bash "$0" --qt-suite "$tmp" "app_host_services_test" 120 \
      app_host_services_test || qt_failed+=("app_host_services_test")
  else
    say "SKIP app_host_services_test: no setpriv, or ICMP datagram sockets are admitted here"
  fi
}

# The program on test LANs, with the native simulator in the module
# namespaces, as tests/app's Linux runs: LABEL LIMIT TARGET ENV -- LAN ARG...
# The LAN must leave nothing behind (tests/tools/run_lan_test.sh).
run_qt_lan_suite() {
  local label=$1 limit=$2 target=$3 environment=$4 id_file
  shift 5
  id_file=$tmp/${label//[^A-Za-z0-9_.-]/_}.id
  say "$label"
  bash tests/tools/run_lan_test.sh "$id_file" scripts/with-testlan.sh "$@" -- \
    env $environment APP_LAN_ID_FILE="$id_file" bash "$0" --qt-suite "$tmp" "$label" "$limit" "$target" ||
    qt_failed+=("$label")
}

run_program_on_lan() {
  local sim=$root/$native/tools/modsim/modsim
  run_qt_lan_suite "app_lan_test (search)" 150 app_lan_test APP_LAN_EXPECT=IN-1,IN-2,OUT -- \
    --timeout 180 --modsim "$sim" \
    --module-ns ip=198.18.0.101/24 \
    --sim "--module name=IN-1,alias=Pump --module name=IN-2,ip=198.18.0.102,mac=00:0E:C6:00:01:02" \
    --module-ns ip=198.19.5.20/24 --sim "--module name=OUT,ip=198.19.5.20,gw=198.19.5.1,mac=00:0E:C6:00:02:01"

  # "Set multiple modules": three factory modules sharing one address, one
  # that refuses; then each outcome from what the module reports.
  run_qt_lan_suite "app_autoset_lan_test" 240 app_autoset_lan_test "" -- \
    --timeout 270 --modsim "$sim" \
    --module-ns ip=198.18.0.101/24,extra=198.18.0.21+198.18.0.23+198.18.0.24+198.18.0.37 \
    --sim "--module name=IN-1,alias=Pump,dhcp=1,ip=198.18.0.101,mac=00:0E:C6:00:01:01 --module name=FAC,dhcp=1,ip=198.18.0.200,mac=00:0E:C6:F0:00:01 --module name=FAC,dhcp=1,ip=198.18.0.200,mac=00:0E:C6:F0:00:02 --module name=FAC,dhcp=1,ip=198.18.0.200,mac=00:0E:C6:F0:00:03" \
    --module-ns ip=198.18.0.102/24 --sim "--module name=IN-2,ip=198.18.0.102,mac=00:0E:C6:00:02:01,behave=refuse"
  run_qt_lan_suite "app_autoset_lan_test (outcomes)" 120 app_autoset_lan_test APP_AUTOSET_LAN=outcomes -- \
    --timeout 150 --modsim "$sim" \
    --module-ns ip=198.18.0.101/24 \
    --sim "--module name=F-1,dhcp=1,ip=198.18.0.200,mac=00:0E:C6:F0:00:01,behave=acklate:4500 --module name=F-2,dhcp=1,ip=198.18.0.200,mac=00:0E:C6:F0:00:02,behave=deaf --module name=F-3,dhcp=1,ip=198.18.0.200,mac=00:0E:C6:F0:00:03,behave=late:900+refuse"

  # Search, list and configure one module through its dialog; the LAN's
  # folder is kept to read what the module namespace's simulator holds.
  local lan=$tmp/lan-subnet
  run_qt_lan_suite "app_config_lan_test (subnet)" 240 app_config_lan_test APP_CONFIG_LAN=subnet -- \
    --timeout 270 --dir "$lan" --modsim "$sim" \
    --module-ns ip=198.18.0.101/24,extra=198.18.0.11 \
    --sim "--module name=IO-1,alias=Pump,ip=198.18.0.101 --module name=GHOST,ip=198.18.0.12,dhcp=1 --module name=NG,alias=Valve,behave=refuse --module name=QUIET,behave=silent --module name=IO-5,alias=Fan"
  grep -E '^name=IO-1,' "$lan/m1.state" | grep 'ip=198.18.0.150' | grep -q 'alias=Line-3' ||
    { cat "$lan/m1.state"; echo "test-windows: FAIL: the simulator of module namespace 1 does not hold the new settings of IO-1" >&2; qt_failed+=("IO-1 settings"); return; }
  say "  the simulator of module namespace 1 holds IO-1's new address and alias"

  # The recommended address at the top of a subnet, on several adapters and
  # at the top of a /28 (whose adapter one case takes down).
  run_qt_lan_suite "app_config_lan_test (top)" 120 app_config_lan_test APP_CONFIG_LAN=top -- \
    --timeout 150 --host-ip 198.18.0.253/24
  run_qt_lan_suite "app_config_lan_test (adapters)" 120 app_config_lan_test APP_CONFIG_LAN=adapters -- \
    --timeout 150 --modsim "$sim" \
    --empty-adapter 198.19.200.10/24 --segment 198.19.7.10/24 \
    --module-ns ip=198.18.0.101/24 --sim "--module name=A-1,ip=198.18.0.101" \
    --module-ns ip=198.19.7.101/24,seg=2 --sim "--module name=B-1,ip=198.19.7.101,gw=198.19.7.1"
  run_qt_lan_suite "app_config_lan_test (slash28)" 120 app_config_lan_test APP_CONFIG_LAN=slash28 -- \
    --timeout 150 --host-ip 198.18.30.13/28 --gateway 198.18.30.1 --module-ns ip=198.18.30.14/28 --no-sim
}

if [ "${1:-}" = --qt-suite ]; then
  # Inside a namespace of run_qt_suite: TMP LABEL LIMIT TARGET [ARG...].
  tmp=$2
  shift 2
  run_qt_suite_here "$@"
  exit
fi

if [ "${1:-}" = --run ]; then
  run_tests
  exit 0
fi

start=$(date +%s)
bash scripts/deps-windows.sh
bash scripts/build-windows.sh "$build"
cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDALVORA_BUILD_APP=OFF -DDALVORA_BUILD_TESTS=OFF \
  -DDALVORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$native" -j"${JOBS:-$(nproc)}" --target modsim

if [ "$(id -u)" -eq 0 ] && unshare -n true 2>/dev/null; then
  say "running in a private network namespace (loopback only)"
  TEST_WINDOWS_NETNS=1 unshare -n bash "$0" --run
else
  say "no private network namespace here: running on the host's loopback"
  bash "$0" --run
fi
say "done in $(($(date +%s) - start)) s"
