#!/bin/sh
# Runs a Windows test program under Wine on a display of its own: wine_display.sh
# WINE_RUN PROGRAM.exe [ARGS...]. The first program of a Wine prefix makes the prefix's
# desktop on the display it has (none for the offscreen tests): the prefix's server is
# let stop before, so that this one makes it on the display, and after, so that no later
# test joins a desktop whose display is gone.
wineRun="$1"
shift
"$wineRun" --wait
status=0
xvfb-run -a -s '-screen 0 1024x768x24' "$wineRun" "$@" || status=$?
"$wineRun" --wait
exit "$status"
