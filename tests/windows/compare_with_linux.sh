#!/bin/sh
# Conversions by kestrova-cli.exe under Wine must be byte-identical to the Linux build's:
# every example at every drawing version and as a clipboard drawing, from a plain folder
# and from Japanese folder and file names, with Jw_cad's settings from the registry (Wine)
# and from the same prefix's user.reg (Linux), and from a registry export on both.
# Usage: compare_with_linux.sh WINE_RUN KESTROVA_CLI_EXE LINUX_KESTROVA_CLI SOURCE_DIR
#                              WORK_DIR WINEPREFIX
set -eu
wineRun=$1 exe=$2 linux=$3 source=$4 work=$5 prefix=$6
if [ ! -x "$linux" ]; then
  echo "skipped: no Linux kestrova-cli at $linux (build the default preset first)"
  exit 77
fi
rm -rf "$work"
plain="$work/plain"
japanese="$work/測量/現場A"
mkdir -p "$plain" "$japanese"
cp "$source/examples/site.sim" "$source/examples/site.zhy" "$plain/"
cp "$source/examples/site.sim" "$japanese/桜台 敷地.sim"
cp "$source/examples/site.zhy" "$japanese/座標①.zhy"
# The same site as other programs save it: UTF-8, and UTF-16 with a byte-order mark,
# with characters code page 932 lacks in the site name.
{
  printf '\357\273\277'
  iconv -f CP932 -t UTF-8 "$source/examples/site.sim" | sed '1s/地区/地区〜−¥/'
} >"$japanese/敷地 utf8.sim"
{
  printf '\377\376'
  iconv -f CP932 -t UTF-16LE "$source/examples/site.sim"
} >"$japanese/敷地 utf16.sim"
export_reg="$source/tests/data/jwcad-settings/regedit-export.reg"

# The Linux build reads the prefix's user.reg, which Wine writes when its server stops.
"$wineRun" --wait
export WINEPREFIX="$prefix"

compared=0
failed=0
run() {  # run SIDE PROGRAM ARGS...: the program's status; its messages in $work/SIDE.err
  side=$1
  shift
  status=0
  "$@" 2>"$work/$side.err" || status=$?
  return "$status"
}
check() {  # check NAME ARGS...: runs both programs with "-o OUT" appended and compares
  name=$1
  shift
  rm -f "$work/linux.out" "$work/wine.out"
  linuxStatus=0 wineStatus=0
  run linux "$linux" "$@" -o "$work/linux.out" || linuxStatus=$?
  run wine "$wineRun" "$exe" "$@" -o "$work/wine.out" || wineStatus=$?
  if [ "$wineStatus" -ne 0 ] && [ "$linuxStatus" -eq 0 ]; then
    # Wine itself now and then fails to start a program on a loaded machine: once more,
    # and say so.
    echo "retried under Wine (exit $wineStatus): $name"
    sed 's/^/  wine: /' "$work/wine.err"
    wineStatus=0
    run wine "$wineRun" "$exe" "$@" -o "$work/wine.out" || wineStatus=$?
  fi
  compared=$((compared + 1))
  if [ "$linuxStatus" -ne 0 ] || [ "$wineStatus" -ne 0 ] ||
    ! cmp -s "$work/linux.out" "$work/wine.out"; then
    echo "DIFFERENT: $name (exit $linuxStatus on Linux, $wineStatus under Wine)"
    sed 's/^/  linux: /' "$work/linux.err"
    sed 's/^/  wine: /' "$work/wine.err"
    failed=$((failed + 1))
  fi
}

for input in "$plain/site.sim" "$plain/site.zhy" "$japanese/桜台 敷地.sim" "$japanese/座標①.zhy" \
  "$japanese/敷地 utf8.sim" "$japanese/敷地 utf16.sim"; do
  for version in 420 351 300 230 225 223 220; do
    check "convert $input at $version" convert "$input" --jww-version "$version"
  done
  check "clip $input" clip "$input"
  check "convert $input with $export_reg" convert "$input" --jwcad-settings "$export_reg"
  check "clip $input with $export_reg" clip "$input" --jwcad-settings "$export_reg"
  check "export $input" export "$input" --format zhy
done
# Japanese output names too: the Wine program writes the file the Linux one is compared to.
: >"$work/linux.err"
: >"$work/wine.err"
compared=$((compared + 1))
if ! run wine "$wineRun" "$exe" convert "$japanese/桜台 敷地.sim" -o "$japanese/図面 第1.jww" ||
  ! run linux "$linux" convert "$japanese/桜台 敷地.sim" -o "$work/linux.jww" ||
  ! cmp -s "$japanese/図面 第1.jww" "$work/linux.jww"; then
  echo "DIFFERENT: Japanese output name"
  sed 's/^/  linux: /' "$work/linux.err"
  sed 's/^/  wine: /' "$work/wine.err"
  failed=$((failed + 1))
fi

echo "$compared conversions compared, $failed different"
[ "$failed" -eq 0 ]
