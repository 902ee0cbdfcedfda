#!/usr/bin/env bash
# Checks a Debian package made by scripts/package-deb as a user's machine meets it:
# lintian finds no error, the desktop entry and the AppStream metainfo validate, and
# unpacked into a scratch root (dpkg -x) both programs run from there with the files
# installed beside them, the GIS module included; the file types name a SIMA site by its
# extension and by its first line, and the manual page and completion know every option.
#
#   tests/packaging/check_deb.sh build/kestrova_<version>_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/../.."

deb=${1:?usage: check_deb.sh PACKAGE.deb}
fail() {
  echo "check_deb: $*" >&2
  exit 1
}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
root="$scratch/root"
version=$(dpkg-deb --field "$deb" Version)
[ "$(basename "$deb")" = "kestrova_${version}_amd64.deb" ] || fail "unexpected name $deb"

echo "-- lintian"
lintian --fail-on error "$deb" || fail "lintian reports errors"

echo "-- contents"
dpkg -x "$deb" "$root"
for f in usr/bin/kestrova usr/bin/kestrova-cli usr/share/applications/kestrova.desktop \
  usr/share/icons/hicolor/scalable/apps/kestrova.svg \
  usr/share/icons/hicolor/48x48/apps/kestrova.png \
  usr/share/icons/hicolor/256x256/apps/kestrova.png usr/share/mime/packages/kestrova.xml \
  usr/share/man/man1/kestrova.1.gz usr/share/man/man1/kestrova-cli.1.gz \
  usr/share/bash-completion/completions/kestrova-cli usr/share/doc/kestrova/copyright \
  usr/share/doc/kestrova/examples/site.sim; do
  [ -e "$root/$f" ] || fail "the package lacks /$f"
done
module=$(find "$root/usr/lib" -name kestrova-gis.so)
[ -n "$module" ] || fail "the package lacks the GIS module"
ls "$root"/usr/share/kestrova/manual/*.html >/dev/null || fail "the package lacks the manual"
metainfo=("$root"/usr/share/metainfo/*.metainfo.xml)
[ -f "${metainfo[0]}" ] || fail "the package lacks its AppStream metainfo"
[ "$(file -b --mime-type "$root/usr/share/icons/hicolor/48x48/apps/kestrova.png")" = image/png ] ||
  fail "the 48 px icon is not a PNG"
dpkg-deb --field "$deb" Depends | grep -q 'libgdal' || fail "GDAL is not among the dependencies"

echo "-- validators"
desktop-file-validate "$root/usr/share/applications/kestrova.desktop"
appstreamcli validate --no-net "${metainfo[0]}"

echo "-- programs run from the scratch root"
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/.config" XDG_RUNTIME_DIR="$scratch/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
cliVersion=$("$root/usr/bin/kestrova-cli" --version)
guiVersion=$("$root/usr/bin/kestrova" --version)
echo "$cliVersion / $guiVersion"
[[ $cliVersion == "kestrova-cli $version"* ]] || fail "kestrova-cli --version: $cliVersion"
[ "${guiVersion#kestrova }" = "${cliVersion#kestrova-cli }" ] ||
  fail "the programs disagree on their version: $guiVersion, $cliVersion"
# The GIS module is found beside the installed program, not in the build tree.
"$root/usr/bin/kestrova-cli" export examples/site.sim -o "$scratch/site.geojson" --crs EPSG:6677
grep -q '"FeatureCollection"' "$scratch/site.geojson" || fail "the GeoJSON export is empty"
QT_QPA_PLATFORM=offscreen "$root/usr/bin/kestrova" --print-pdf "$scratch/site.pdf" examples/site.sim
pdftotext "$scratch/site.pdf" - | grep -q 'KBM-1' || fail "the printed list lacks the points"
"$root/usr/bin/kestrova-cli" convert examples/site.sim -o "$scratch/site.jww"

echo "-- file types"
# It warns that the scratch root is not among the data folders; only failures matter.
updated=$(update-mime-database "$root/usr/share/mime" 2>&1) || fail "update-mime-database: $updated"
cp examples/site.sim "$scratch/SITE"
cp examples/site.zhy "$scratch/site.zhy"
mimeOf() {
  env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION -u KDE_FULL_SESSION -u GNOME_DESKTOP_SESSION_ID \
    XDG_DATA_HOME="$scratch/nothing" XDG_DATA_DIRS="$root/usr/share:/usr/share" \
    xdg-mime query filetype "$1"
}
for pair in examples/site.sim=application/x-sima "$scratch/SITE"=application/x-sima \
  "$scratch/site.zhy"=application/x-zhy "$scratch/site.jww"=application/x-jww; do
  got=$(mimeOf "${pair%%=*}")
  [ "$got" = "${pair#*=}" ] || fail "${pair%%=*} is $got, not ${pair#*=}"
done

echo "-- manual page and completion"
page=$(zcat "$root/usr/share/man/man1/kestrova-cli.1.gz")
# shellcheck source=/dev/null
source /usr/share/bash-completion/bash_completion
# shellcheck source=/dev/null
source "$root/usr/share/bash-completion/completions/kestrova-cli"
for command in info export convert clip plot dump; do
  options=$("$root/usr/bin/kestrova-cli" "$command" --help | grep -o -- '--[a-z][a-z-]*' | sort -u)
  COMP_WORDS=(kestrova-cli "$command" --) COMP_CWORD=2 COMP_LINE="kestrova-cli $command --"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _kestrova_cli kestrova-cli -- "$command"
  for option in $options; do
    grep -q -- "${option//-/\\\\-}" <<<"$page" || fail "kestrova-cli.1 lacks $command $option"
    [[ " ${COMPREPLY[*]} " == *" $option "* ]] || fail "no completion of $command $option"
  done
done
for page in kestrova kestrova-cli; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
    "$root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page.1: $warnings"
done
echo "check_deb: $deb passed"
