#!/bin/sh
# kestrova.exe as a surveyor uses it, under Wine in a virtual display: started with a
# site file, it shows its window with the points; the transfer command, reached through
# its menu accelerator, leaves on the Windows clipboard exactly the drawing that
# "kestrova-cli.exe clip" makes, as a second Windows program (Jw_cad's stand-in) reads
# it; a drawing saved through the save dialog equals "kestrova-cli.exe convert"; quitting
# writes the settings beside the program; --print-pdf writes the same text as the Linux
# build's.
# Usage: desktop_wine.sh WINE_RUN KESTROVA_EXE KESTROVA_CLI_EXE READ_CLIPBOARD_EXE
#                        LINUX_KESTROVA SITE_FILE WORK_DIR
set -eu
wineRun=$1 exe=$2 cli=$3 reader=$4 linux=$5 site=$6 work=$7
for tool in xvfb-run xdotool xclip import pdftotext; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: needs $tool"
    exit 77
  fi
done
rm -rf "$work"
# A folder and a site named in Japanese, as on a surveyor's disk. The program keeps its
# settings beside itself when it can: a copy of its own here.
mkdir -p "$work/測量 現場A"
cd "$work/測量 現場A"
cp "$exe" kestrova.exe
cp "$site" "桜台 敷地.sim"

"$wineRun" "$cli" clip "桜台 敷地.sim" -o want-clip.bin
"$wineRun" "$cli" convert "桜台 敷地.sim" -o want.jww

# The Wine session must start inside the virtual display to reach its clipboard.
"$wineRun" --wait

cat >session.sh <<'SESSION'
set -eu
wineRun=$1 reader=$2
log() { echo "desktop: $*"; }
fail() {
  echo "desktop: $*"
  import -window root failed.png 2>/dev/null || true
  exit 1
}

"$wineRun" kestrova.exe "桜台 敷地.sim" >kestrova.out 2>&1 &
program=$!
trap 'kill $program 2>/dev/null || true' EXIT

# The main window: titled " Kestrova" (the open file's name may follow).
window=
for try in $(seq 1 120); do
  window=$(xdotool search --onlyvisible --name '^ Kestrova' 2>/dev/null | head -n 1 || true)
  [ -n "$window" ] && break
  kill -0 "$program" 2>/dev/null || { cat kestrova.out; fail "kestrova.exe ended at start"; }
  sleep 0.5
done
[ -n "$window" ] || fail "no window titled ' Kestrova' after 60 s"
log "window $window: $(xdotool getwindowname "$window")"
sleep 3  # the file loads once the window is up

# Keys go where the focus is; a window manager would give the new window the focus.
focus() {
  xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
  sleep 0.5
}

# The transfer: ツール(&T) → Jw_winに転送(&V). Nothing may be there before it.
if timeout 60 "$wineRun" "$reader" before-clip.bin 2>/dev/null && cmp -s want-clip.bin before-clip.bin
then
  fail "the clipboard held the drawing before the transfer"
fi
focus
xdotool key alt+t
sleep 1
xdotool key v
got=
for try in 1 2 3 4 5 6 7 8 9 10; do
  sleep 1
  rm -f got-clip.bin
  if timeout 60 "$wineRun" "$reader" got-clip.bin 2>reader.err && cmp -s want-clip.bin got-clip.bin
  then
    got=yes
    break
  fi
done
[ -n "$got" ] || { cat reader.err; fail "the clipboard never held the drawing kestrova-cli.exe makes"; }
log "the clipboard's Jw_win equals kestrova-cli.exe clip ($(wc -c <got-clip.bin) bytes)"
# Linux programs see it too (Jw_cad under Wine on a Linux desktop pastes from there).
timeout 20 xclip -selection clipboard -t TARGETS -o >targets.txt 2>/dev/null || true
grep -qx Jw_win targets.txt || fail "the X11 clipboard offers no Jw_win target"

# The drawing save: ﾌｧｲﾙ(&F) → CADﾃﾞｰﾀで保存(&A), a name typed into the save dialog.
focus
xdotool key alt+f
sleep 1
xdotool key a
dialog=
for try in $(seq 1 40); do
  dialog=$(xdotool search --onlyvisible --name '名前を付けて保存|Save' 2>/dev/null | head -n 1 || true)
  [ -n "$dialog" ] && break
  sleep 0.5
done
[ -n "$dialog" ] || fail "no save dialog"
sleep 1
xdotool windowfocus "$dialog" 2>/dev/null || true
# The dialog opens wherever Wine last saved; the full name says where. Typed Japanese
# would go through an input method, so the folder comes by an ASCII link to it.
ln -s "$PWD" "$PWD/../here"
xdotool type --delay 20 "Z:$(cd ../here && pwd | sed 's|/|\\|g')\\saved.jww"
xdotool key Return
for try in $(seq 1 60); do
  [ -s saved.jww ] && break
  sleep 0.5
done
[ -s saved.jww ] || fail "the save dialog wrote no saved.jww"
log "saved.jww written through the save dialog"

# 終了(&Q), confirmed with はい(&Y): the settings go beside the program.
sleep 1
focus
xdotool key alt+f
sleep 1
xdotool key q
sleep 2
xdotool key y
for try in $(seq 1 60); do
  kill -0 "$program" 2>/dev/null || break
  sleep 0.5
done
kill -0 "$program" 2>/dev/null && fail "kestrova.exe did not quit through ﾌｧｲﾙ → 終了"
wait "$program" || fail "kestrova.exe exited with status $?"
trap - EXIT
"$wineRun" --wait
SESSION
xvfb-run -a -s '-screen 0 1280x900x24' sh session.sh "$wineRun" "$reader"

cmp want.jww saved.jww || { echo "the dialog's drawing differs from kestrova-cli.exe convert"; exit 1; }
[ -f kestrova.INI ] || [ -f Kestrova.INI ] || { echo "no settings file beside kestrova.exe"; exit 1; }

# Printing without a window: the same text as the Linux build's.
if [ -x "$linux" ]; then
  xvfb-run -a "$wineRun" ./kestrova.exe --print-pdf "一覧 windows.pdf" "桜台 敷地.sim" \
    2>print.err || { cat print.err; echo "kestrova.exe --print-pdf failed"; exit 1; }
  mv "一覧 windows.pdf" windows.pdf
  QT_QPA_PLATFORM=offscreen "$linux" --print-pdf linux.pdf "桜台 敷地.sim" 2>/dev/null
  pdftotext -layout windows.pdf windows.txt
  pdftotext -layout linux.pdf linux.txt
  if ! cmp -s linux.txt windows.txt; then
    diff linux.txt windows.txt | head -n 20
    echo "kestrova.exe --print-pdf's text differs from the Linux build's"
    exit 1
  fi
  echo "desktop: --print-pdf: $(grep -c . windows.txt) lines of text, same as the Linux build's"
else
  echo "desktop: no Linux build at $linux: --print-pdf not compared"
fi
echo "desktop: kestrova.exe passed under Wine"
