#!/bin/sh
# The way back for a Linux user whose Jw_cad runs under Wine: the drawing that the Linux
# desktop program holds on the X11 clipboard ("Jw_win" target) must reach a Windows
# program as the registered clipboard format "Jw_win", byte for byte what "clip -o" writes.
# Usage: clipboard_from_x11.sh WINE_RUN READ_CLIPBOARD_EXE HOLD_CLIPBOARD LINUX_KESTROVA_CLI
#                              EXAMPLES_DIR WORK_DIR
set -eu
wineRun=$1 reader=$2 holder=$3 linux=$4 examples=$5 work=$6
if [ ! -x "$holder" ] || [ ! -x "$linux" ]; then
  echo "skipped: needs the Linux desktop build's $holder and $linux (build the default preset)"
  exit 77
fi
if ! command -v xvfb-run >/dev/null; then
  echo "skipped: needs xvfb-run"
  exit 77
fi
rm -rf "$work"
mkdir -p "$work"
cd "$work"
"$linux" clip "$examples/site.sim" -o want.bin

# The Wine session must start inside the virtual display to reach its clipboard.
"$wineRun" --wait

cat >session.sh <<'SESSION'
set -eu
wineRun=$1 reader=$2 holder=$3
QT_QPA_PLATFORM=xcb "$holder" want.bin >holder.out 2>holder.err &
holder=$!
status=0
for try in $(seq 1 100); do
  grep -qx ready holder.out 2>/dev/null && break
  if ! kill -0 "$holder" 2>/dev/null; then
    echo "hold_clipboard ended before it held the clipboard:"
    cat holder.err
    exit 1
  fi
  sleep 0.2
done
grep -qx ready holder.out || { echo "hold_clipboard never said ready"; status=1; }
# Wine's clipboard manager learns of the new X11 owner on its own time; a few tries.
if [ $status -eq 0 ]; then
  status=1
  for try in 1 2 3; do
    rm -f got.bin
    if timeout 60 "$wineRun" "$reader" got.bin 2>reader.err; then status=0; break; fi
    sleep 2
  done
  [ $status -eq 0 ] || cat reader.err
fi
kill "$holder" 2>/dev/null || true
wait "$holder" 2>/dev/null || true
"$wineRun" --wait
exit $status
SESSION
xvfb-run -a -s '-screen 0 640x480x24' sh session.sh "$wineRun" "$reader" "$holder"

if ! cmp want.bin got.bin; then
  echo "the Windows clipboard's Jw_win differs from the payload file"
  exit 1
fi
echo "Windows clipboard format Jw_win: $(wc -c <got.bin) bytes, same as the payload file"
