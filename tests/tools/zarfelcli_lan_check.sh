#!/usr/bin/env bash
# Runs in the host namespace of a test LAN (see tools/CMakeLists.txt): module
# namespace 1 holds A (00:0E:C6:00:01:01) and B (…:01:02, never acknowledges),
# namespace 2 holds OUT (…:02:01) outside the host's subnet.
# With a third word "outcomes" or "spreadsheet", the layout of
# zarfelcli.testlan_outcomes or zarfelcli.testlan_spreadsheet instead (see
# there).
# Usage: zarfelcli_lan_check.sh ID_FILE ZARFELCLI [outcomes|spreadsheet]
set -uo pipefail
echo "$TESTLAN_ID" >"$1"
cli=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bad=0
fail() { echo "zarfelcli_lan_check: $*" >&2; bad=1; }

if [[ ${3-} == spreadsheet ]]; then
  # A (alias 007), B and C in one namespace. A spreadsheet's file: ';', a
  # byte order mark, CRLF, a notes column, trailing empty columns, and A's
  # alias turned into a number.
  printf '\xef\xbb\xbfMAC;IP;Notes;ALIAS;;\r\n%s\r\n%s\r\n%s\r\n' \
    '00:0E:C6:00:03:01;198.18.0.151;pump, north;7;;' '00:0E:C6:00:03:02;198.18.0.152;;;;' \
    '00:0E:C6:00:03:03;198.18.0.153;;c;;' >"$work/sheet.csv"
  state() { grep -i "mac=$1" "$TESTLAN_DIR/m1.state"; }
  requests() { cat "$TESTLAN_DIR"/m*.log | grep -c 'VELKORQZ510,01,'; }
  sent=$(requests)
  rc=0
  "$cli" --timeout 1000 --dry-run apply "$work/sheet.csv" >"$work/dry.out" 2>"$work/dry.err" || rc=$?
  cat "$work/dry.out"
  ((rc == 3 && sent == $(requests))) || fail "dry run exited $rc, requests $sent -> $(requests)"
  grep -q "columns ignored: 'Notes', 2 without a name" "$work/dry.err" || fail "no warning: $(cat "$work/dry.err")"
  for line in "^line 2: 00:0E:C6:00:03:01: skipped: alias '7' is the module's '007'" \
    '^line 3: 00:0E:C6:00:03:02: ip 198.18.0.102 -> 198.18.0.152$' \
    "^line 4: 00:0E:C6:00:03:03: ip 198.18.0.103 -> 198.18.0.153, alias '' -> 'c'$"; do
    grep -Eq "$line" "$work/dry.out" || fail "dry run: no line matching $line"
  done

  # Applied: A is named before anything is sent and left alone.
  rc=0
  "$cli" --timeout 1000 apply "$work/sheet.csv" >"$work/sheet.out" 2>"$work/sheet.err" || rc=$?
  ((rc == 3)) || fail "apply of the sheet exited $rc: $(cat "$work/sheet.out" "$work/sheet.err")"
  [[ $(grep -n -m1 '00:0E:C6:00:03:01: skipped' "$work/sheet.err" | cut -d: -f1) -lt \
     $(grep -n -m1 '^apply: 00:0E:C6:00:03:02' "$work/sheet.err" | cut -d: -f1) ]] ||
    fail "the rewritten alias not named first: $(cat "$work/sheet.err")"
  state 00:0E:C6:00:03:01 | grep 'ip=198.18.0.101,' | grep -q 'alias=007' || fail "A changed: $(state 00:0E:C6:00:03:01)"
  state 00:0E:C6:00:03:03 | grep 'ip=198.18.0.153,' | grep -q 'alias=c' || fail "C not set: $(state 00:0E:C6:00:03:03)"

  # A batch that saves the previous settings; applied, that file puts all
  # three back.
  printf 'mac,ip\n00:0E:C6:00:03:01,198.18.0.161\n00:0E:C6:00:03:02,198.18.0.162\n00:0E:C6:00:03:03,198.18.0.163\n' \
    >"$work/move.csv"
  "$cli" --timeout 1000 --save-previous "$work/undo.csv" apply "$work/move.csv" >/dev/null 2>&1 ||
    fail "the move exited $?"
  [[ $(grep -c 'ip=198.18.0.16[123],' "$TESTLAN_DIR/m1.state") == 3 ]] || fail "not moved: $(cat "$TESTLAN_DIR/m1.state")"
  "$cli" --timeout 1000 apply "$work/undo.csv" >"$work/undo.out" 2>&1 || fail "undo exited $?: $(cat "$work/undo.out")"
  state 00:0E:C6:00:03:01 | grep 'ip=198.18.0.101,' | grep -q 'alias=007' || fail "A not back: $(state 00:0E:C6:00:03:01)"
  state 00:0E:C6:00:03:02 | grep -q 'ip=198.18.0.152,' || fail "B not back: $(state 00:0E:C6:00:03:02)"
  state 00:0E:C6:00:03:03 | grep 'ip=198.18.0.153,' | grep -q 'alias=c' || fail "C not back: $(state 00:0E:C6:00:03:03)"
  ((bad == 0)) && echo "zarfelcli_lan_check: ok"
  exit "$bad"
fi

if [[ ${3-} == outcomes ]]; then
  # Only what a module reports makes it set: the refusing module may take
  # the late module's acknowledgement, but never ends as set.
  cat >"$work/batch.csv" <<'CSV'
mac,ip
00:0E:C6:00:05:01,198.18.0.11
00:0E:C6:00:05:02,198.18.0.12
00:0E:C6:00:05:03,198.18.0.13
CSV
  rc=0
  "$cli" --timeout 2000 apply "$work/batch.csv" >"$work/batch.out" 2>"$work/batch.err" || rc=$?
  cat "$work/batch.out"
  while read -r line; do
    mac=$(awk '{print $3}' <<<"$line")
    grep -i "mac=${mac%:}" "$TESTLAN_DIR/m1.state" | grep -q 'ip=198.18.0.1[123],' ||
      fail "reported set, but unchanged: $line"
  done < <(grep ': set (' "$work/batch.out")
  # Its refusal comes from the address the silent module shares, so it may
  # also be judged no acknowledgement: never set.
  grep -Eq '^line 4: 00:0E:C6:00:05:03: (not confirmed|refused by the module|no acknowledgement[^(]*) \(R\)' "$work/batch.out" ||
    fail "the refusing module: $(cat "$work/batch.out")"
  grep -Eq '^line 3: 00:0E:C6:00:05:02: no acknowledgement' "$work/batch.out" || fail "the deaf module: $(cat "$work/batch.out")"
  if grep -q 'not confirmed' "$work/batch.out"; then want=4; else want=2; fi
  ((rc == want)) || fail "batch exited with $rc, not $want: $(cat "$work/batch.err")"

  # A MAC of two modules with different settings: bad input unless all are
  # to change, and then both do.
  rc=0
  "$cli" --timeout 1000 set 00:0E:C6:00:06:01 alias=both 2>"$work/dup.err" || rc=$?
  ((rc == 3)) && grep -q 'several modules share this MAC' "$work/dup.err" || fail "shared MAC set exited $rc: $(cat "$work/dup.err")"
  if grep -q 'TO=00:0E:C6:00:06:01' "$TESTLAN_DIR/m2.log"; then fail "a request went to the shared MAC"; fi
  "$cli" --timeout 1000 --all-with-mac set 00:0E:C6:00:06:01 alias=both 2>"$work/dup.err" ||
    fail "--all-with-mac set exited $?: $(cat "$work/dup.err")"
  [[ $(grep -c 'alias=both' "$TESTLAN_DIR/m2.state") == 2 ]] || fail "shared MAC: $(cat "$TESTLAN_DIR/m2.state")"

  # Acknowledged, then gone: not confirmed (4); without the check, 0.
  rc=0
  "$cli" --timeout 1000 set 00:0E:C6:00:06:03 alias=gone 2>"$work/gone.err" || rc=$?
  ((rc == 4)) && grep -q 'not confirmed: acknowledged, but it did not answer' "$work/gone.err" ||
    fail "vanishing module exited $rc: $(cat "$work/gone.err")"
  rc=0
  "$cli" --timeout 1000 --no-verify --all-with-mac set 00:0E:C6:00:06:01 alias=again 2>"$work/nov.err" || rc=$?
  ((rc == 0)) || fail "--no-verify set exited $rc: $(cat "$work/nov.err")"
  ((bad == 0)) && echo "zarfelcli_lan_check: ok"
  exit "$bad"
fi

# A search as JSON: every module once, the stable keys, the host's adapter.
"$cli" --timeout 1000 --format json search >"$work/search.json" || fail "search exited with $?"
python3 - "$work/search.json" <<'PY' || fail "search JSON: $(cat "$work/search.json")"
import json, sys
found = json.load(open(sys.argv[1]))
keys = ["name", "alias", "dhcp", "ip", "mask", "gateway", "mac", "adapter"]
assert sorted(m["name"] for m in found) == ["A", "B", "OUT"], found
assert all(list(m) == keys and m["adapter"] == "198.18.0.10" for m in found), found
PY

# A directed broadcast reaches the host's own subnet only.
"$cli" --timeout 1000 --format csv --to 198.18.0.255 search >"$work/directed.csv" 2>/dev/null
[[ $(grep -c ',00:0E:C6:00:01:0[12],' "$work/directed.csv") == 2 && $(wc -l <"$work/directed.csv") == 3 ]] ||
  fail "directed broadcast: $(cat "$work/directed.csv")"

# apply: one row set, one malformed, one module that is not there, one that
# never acknowledges but takes its settings (set: the check sees them); the
# worst of them is the exit status.
cat >"$work/plant.csv" <<'CSV'
mac,ip,mask,gateway,dhcp,alias
00:0e:c6:00:01:01,198.18.0.150,,,0,"pump"
00:0E:C6:00:02:01,198.19.5.300,,,,
00:0E:C6:00:09:09,198.18.0.160,,,,
00:0E:C6:00:01:02,198.18.0.170,,,,
CSV
rc=0
"$cli" --timeout 1000 --verify apply "$work/plant.csv" >"$work/apply.out" || rc=$?
cat "$work/apply.out"
((rc == 3)) || fail "apply exited with $rc, not 3 (bad input)"
for line in '^line 2: 00:0E:C6:00:01:01: set \(A\)$' \
  "^line 3: 00:0E:C6:00:02:01: bad input, not sent: ip: '198.19.5.300'" \
  '^line 4: 00:0E:C6:00:09:09: not found, not set$' \
  '^line 5: 00:0E:C6:00:01:02: set \(B\)$' \
  '^line 2: 00:0E:C6:00:01:01: now ip=198.18.0.150 .*alias=pump$'; do
  grep -Eq "$line" "$work/apply.out" || fail "no line matching $line"
done
grep 'mac=00:0E:C6:00:01:01' "$TESTLAN_DIR/m1.state" | grep 'ip=198.18.0.150' | grep -q 'alias=pump' ||
  fail "A's state: $(cat "$TESTLAN_DIR/m1.state")"
# Nothing was sent for the malformed row or the missing module.
if grep -iE 'TO=00:0E:C6:00:(02:01|09:09)' "$TESTLAN_DIR"/m*.log; then fail "a request for a row not to be sent"; fi

# set by MAC: 0 set, 1 not found, 3 bad input.
rc=0
"$cli" --timeout 1000 set 00:0e:c6:00:02:01 alias=out 2>"$work/set.err" || rc=$?
((rc == 0)) || fail "set exited with $rc: $(cat "$work/set.err")"
grep 'mac=00:0E:C6:00:02:01' "$TESTLAN_DIR/m2.state" | grep -q 'alias=out' || fail "OUT's state: $(cat "$TESTLAN_DIR/m2.state")"
rc=0
"$cli" --timeout 1000 set 00:0E:C6:00:09:09 alias=x 2>/dev/null || rc=$?
((rc == 1)) || fail "set of a missing module exited with $rc, not 1"
rc=0
"$cli" set 00:0E:C6:00:02:01 ip=198.19.5.300 2>/dev/null || rc=$?
((rc == 3)) || fail "set with a bad address exited with $rc, not 3"
# A misplaced set word is a usage error of the command list: 2.
rc=0
"$cli" search set 00:0E:C6:00:01:01 2>/dev/null || rc=$?
((rc == 2)) || fail "search set exited with $rc, not 2"

# The program's CSV export applied unchanged changes nothing: its displayed
# titles in a dragged order, Enable/Disable, N/A for no alias, UTF-8 (OUT's
# alias is Latin-1 on the module). B never acknowledges, so a request to it
# would show as exit 2; none may reach any module.
"$cli" --timeout 1000 set 00:0E:C6:00:02:01 alias=$'Pr\xfcf' 2>/dev/null || fail "set of a Latin-1 alias exited with $?"
"$cli" --timeout 1000 --format json search >"$work/before.json" 2>/dev/null || fail "search before the export"
python3 - "$work/before.json" "$work/export.csv" <<'PY' || fail "no export written"
import csv, json, sys
found = json.load(open(sys.argv[1], encoding="utf-8"))
titles = ["NO", "MAC", "NAME", "IP", "ALIAS", "DHCP", "GATEWAY", "MASK", "ADAPTER"]
with open(sys.argv[2], "w", encoding="utf-8", newline="") as f:
    out = csv.writer(f, lineterminator="\r\n")
    out.writerow(titles)
    for no, m in enumerate(found, 1):
        cells = dict(NO=no, MAC=m["mac"], NAME=m["name"], IP=m["ip"], ALIAS=m["alias"] or "N/A",
                     DHCP="Enable" if m["dhcp"] else "Disable", GATEWAY=m["gateway"], MASK=m["mask"],
                     ADAPTER=m["adapter"])
        out.writerow([cells[t] for t in titles])
PY
grep -q $'Pr\xc3\xbcf' "$work/export.csv" || fail "export: OUT's alias not in UTF-8: $(cat "$work/export.csv")"
requests() { cat "$TESTLAN_DIR"/m*.log | grep -c 'VELKORQZ510,01,'; }
sent=$(requests)
rc=0
"$cli" --timeout 1000 apply "$work/export.csv" >"$work/roundtrip.out" 2>&1 || rc=$?
((rc == 0)) || fail "apply of the export exited with $rc: $(cat "$work/roundtrip.out")"
[[ $(grep -c ': nothing to change (' "$work/roundtrip.out") == 3 ]] || fail "apply of the export: $(cat "$work/roundtrip.out")"
((sent == $(requests))) || fail "apply of the export sent a configuration request"
"$cli" --timeout 1000 --format json search >"$work/after.json" 2>/dev/null || fail "search after the export"
python3 - "$work/before.json" "$work/after.json" <<'PY' || fail "modules changed: $(cat "$work/after.json")"
import json, sys
before, after = (sorted(json.load(open(p)), key=lambda m: m["mac"]) for p in sys.argv[1:])
assert before == after and len(after) == 3
PY
((bad == 0)) && echo "zarfelcli_lan_check: ok"
exit "$bad"
