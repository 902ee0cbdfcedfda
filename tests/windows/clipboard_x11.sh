#!/bin/sh
# The road of a Linux user whose Jw_cad runs under Wine: the drawing that kestrova-cli.exe
# puts on the Windows clipboard must reach the X11 clipboard as the target "Jw_win",
# byte for byte what "clip -o" writes.
# Usage: clipboard_x11.sh WINE_RUN KESTROVA_CLI_EXE EXAMPLES_DIR WORK_DIR
set -eu
wineRun=$1 cli=$2 examples=$3 work=$4
if ! command -v xvfb-run >/dev/null || ! command -v xclip >/dev/null; then
  echo "skipped: needs xvfb-run and xclip"
  exit 77
fi
rm -rf "$work"
mkdir -p "$work"
cd "$work"

# The Wine session must start inside the virtual display to reach its clipboard.
"$wineRun" --wait

cat >session.sh <<'SESSION'
set -eu
wineRun=$1 cli=$2 examples=$3
# Wine keeps the clipboard while its session lives; a program left open stands in for
# the Jw_cad that a user has open.
"$wineRun" notepad.exe >/dev/null 2>&1 &
keeper=$!
# The X11 side answers through Wine's clipboard manager, which may be slow to start on a
# busy machine: a few bounded tries instead of one unbounded wait.
fetch() {
  for try in 1 2 3; do
    if timeout 20 xclip -selection clipboard -t "$1" -o >"$2" 2>/dev/null; then return 0; fi
    sleep 2
  done
  return 1
}
status=0
"$wineRun" "$cli" clip "$examples/site.sim" -o want.bin &&
  "$wineRun" "$cli" clip "$examples/site.sim" &&
  fetch TARGETS targets.txt &&
  fetch Jw_win got.bin || status=$?
kill "$keeper" 2>/dev/null || true
wait "$keeper" 2>/dev/null || true
"$wineRun" --wait
exit $status
SESSION
xvfb-run -a -s '-screen 0 640x480x24' sh session.sh "$wineRun" "$cli" "$examples"

grep -qx 'Jw_win' targets.txt || { echo "no Jw_win target; X11 offers:"; cat targets.txt; exit 1; }
grep -qx 'DataObject' targets.txt || { echo "no DataObject target"; exit 1; }
if ! cmp want.bin got.bin; then
  echo "the X11 clipboard's Jw_win differs from the payload file"
  exit 1
fi
echo "X11 clipboard target Jw_win: $(wc -c <got.bin) bytes, same as the payload file"
