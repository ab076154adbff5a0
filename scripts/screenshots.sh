#!/usr/bin/env bash
# Starts the program on a fresh demo folder under a virtual screen and photographs it, once
# at 1366x768 (the common laptop) and once at 1280x1024 (the common office screen):
#   1-recorder-call.png         the recorder during the demo call, with the player and mixer
#   2-player-transcription.png  the player on the demo recording, with a transcription
#   3-report.png                the logbook report window
#   4-settings.png              the settings dialog
#   5-after-report.png          the windows once the report is maximised and closed again
# Usage: scripts/screenshots.sh [--readme] [OUT_DIR]   (default: screenshots/; one folder per
# size). --readme also copies the 1280x1024 call and transcription shots to docs/screenshots/.
# KALLOMIR_BINARY picks the program (default build/kallomir); KALLOMIR_SHOT_SIZES the sizes.
# The demo call's transcription is written into the catalogue row by this script (as an
# operator would have typed and saved it), so the player shows it when the file is opened.
set -euo pipefail
cd "$(dirname "$0")/.."
README=0
if [ "${1:-}" = --readme ]; then README=1; shift; fi
BIN=$(realpath "${KALLOMIR_BINARY:-build/kallomir}")
OUT=$(realpath -m "${1:-screenshots}")
SIZES=${KALLOMIR_SHOT_SIZES:-"1366x768 1280x1024"}

for tool in Xvfb xdotool import sqlite3 espeak-ng sox; do
  command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
[ -x "$BIN" ] || { echo "screenshots: no program at $BIN (build it first)" >&2; exit 1; }

. scripts/private-sound-server.sh

XVFB="" APP="" WORK=""
finish() {
  if [ -n "$APP" ] && kill -0 "$APP" 2>/dev/null; then kill -TERM "$APP"; wait "$APP" 2>/dev/null || true; fi
  if [ -n "$XVFB" ] && kill -0 "$XVFB" 2>/dev/null; then kill -TERM "$XVFB"; wait "$XVFB" 2>/dev/null || true; fi
  stop_private_sound_server
  [ -n "$WORK" ] && rm -rf "$WORK"
  APP="" XVFB="" WORK=""
}
trap finish EXIT

# Waits up to $1 seconds for the command that follows to succeed.
wait_for() {
  local seconds=$1; shift
  for _ in $(seq 1 $((seconds * 10))); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "screenshots: timed out waiting for: $*" >&2
  return 1
}
window() { xdotool search --onlyvisible --name "$1" | head -1; }
has_window() { [ -n "$(window "$1")" ]; }
recording_started() { [ "$(stat -c %s "$DEMO/Record.wav" 2>/dev/null || echo 0)" -gt 32000 ]; }
recording_saved() { compgen -G "$DEMO/Recodati/Quendral/1/*.Ems" >/dev/null; }
shot() { import -window root "$DIR/$1"; echo "  $DIR/$1"; }
# Types into the window with the given title once it has the keyboard.
type_into() {
  local id
  id=$(window "$1")
  xdotool windowfocus --sync "$id"
  xdotool type --delay 40 "$2"
  xdotool key Return
}

TRANSCRIPTION='{\rtf1\ansi\deff0{\fonttbl{\f0 Arial;}}\f0\fs22 {\b 00:00:01 Chiamante:} Buongiorno, chiamo per confermare l'"'"'appuntamento di domani mattina alle dieci e trenta.\par {\b 00:00:06 Chiamante:} Il mio numero '"\\'e8"' 06 12 34 56 78. Grazie e arrivederci.\par\par {\i Appuntamento confermato in agenda.}\par}'

for size in $SIZES; do
  WORK=$(mktemp -d /tmp/kallomir-shots.XXXXXX)
  DEMO=$WORK/demo DIR=$OUT/$size
  mkdir -p "$DIR" "$WORK/run"
  chmod 700 "$WORK/run"
  scripts/prepare-demo-home.sh "$DEMO" >/dev/null
  echo "$size:"

  # A display of its own: Xvfb picks a free number and writes it to fd 3.
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$WORK/display" 2>/dev/null &
  XVFB=$!
  wait_for 10 test -s "$WORK/display"
  export DISPLAY=":$(head -1 "$WORK/display")"

  start_private_sound_server >/dev/null
  XDG_CONFIG_HOME=$DEMO/config XDG_RUNTIME_DIR=$WORK/run \
    "$BIN" --home "$DEMO" --line-script "$DEMO/demo-call.line" >"$WORK/program.log" 2>&1 &
  APP=$!

  wait_for 20 has_window "Accesso Riservato"
  sleep 3.5  # the splash closes itself after 3 s; a key press would only close it
  type_into "Accesso Riservato" demo
  wait_for 20 has_window "^Kallomir$"

  wait_for 40 recording_started
  sleep 2
  shot 1-recorder-call.png

  wait_for 60 recording_saved
  sleep 1
  file=$(basename "$(compgen -G "$DEMO/Recodati/Quendral/1/*.Ems" | head -1)")
  sqlite3 "$DEMO/datirec.mdb" "UPDATE dati SET traduzione = '$(printf '%s' "$TRANSCRIPTION" | sed "s/'/''/g")', \
    LETTO = 1, SCRITTO = 1, user = 'Operatore' WHERE NOME = '$file';"
  # The player has the keyboard after login: through the drive and folder lists to the file
  # list, whose first entry (the demo recording) opens when it is chosen.
  xdotool key --delay 150 Tab Tab Home
  sleep 2
  shot 2-player-transcription.png

  # The toolbar's second button, "Brogliaccio", then its first, "Parametri".
  xdotool mousemove 120 26 click 1
  sleep 2
  shot 3-report.png
  # Maximised (a double click on its title bar: it opens at the area's top left), then
  # closed: the other windows keep their places and sizes.
  xdotool mousemove 300 69 click --repeat 2 --delay 80 1
  sleep 1
  xdotool mousemove $((${size%x*} - 16)) 69 click 1  # its close button, at the top right
  sleep 1
  shot 5-after-report.png

  xdotool mousemove 41 26 click 1
  wait_for 10 has_window "Accesso Riservato"
  type_into "Accesso Riservato" demo
  wait_for 10 has_window "^Parametri$"
  sleep 1
  shot 4-settings.png
  xdotool key Escape

  finish
done

if [ "$README" = 1 ] && [ -d "$OUT/1280x1024" ]; then
  mkdir -p docs/screenshots
  cp "$OUT/1280x1024/1-recorder-call.png" docs/screenshots/recorder-call.png
  cp "$OUT/1280x1024/2-player-transcription.png" docs/screenshots/player-transcription.png
  echo "README screenshots updated in docs/screenshots/"
fi
