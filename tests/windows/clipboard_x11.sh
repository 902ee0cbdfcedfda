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
# Wine keeps the clipboard while its session lives; a waiting program stands in for the
# Jw_cad that a user has open.
mkfifo keep
"$wineRun" cmd.exe <keep >/dev/null 2>&1 &
keeper=$!
exec 3>keep
status=0
"$wineRun" "$cli" clip "$examples/site.sim" -o want.bin &&
  "$wineRun" "$cli" clip "$examples/site.sim" &&
  xclip -selection clipboard -t TARGETS -o >targets.txt &&
  xclip -selection clipboard -t Jw_win -o >got.bin || status=$?
exec 3>&-
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
