#!/usr/bin/env bash
# Prepares a demo program folder: the password property file (the program never writes it),
# a configuration whose recordings stay inside the folder, settings that let the simulated
# line's call be recorded, and a scenario in which a call arrives a few seconds after login.
set -euo pipefail
DEMO=$1
SRC=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$DEMO/config/kallomir" "$DEMO/Recodati"

if [ ! -f "$DEMO/2001Kallomir.Emx" ]; then
  printf 'demo\r\n' > "$DEMO/2001Kallomir.Emx"
  echo "Demo program folder prepared in $DEMO"
fi
echo "Demo password: demo"

if [ ! -f "$DEMO/RIZEDUZO.INI" ]; then
  printf '[PATH]\nDATI=%s/Recodati/\n' "$DEMO" > "$DEMO/RIZEDUZO.INI"
fi
if [ ! -f "$DEMO/config/kallomir/settings.ini" ] && [ -f "$SRC/data/demo/settings.ini" ]; then
  cp "$SRC/data/demo/settings.ini" "$DEMO/config/kallomir/settings.ini"
fi
cp "$SRC/data/demo/demo-call.line" "$DEMO/demo-call.line"
if [ ! -s "$DEMO/caller.wav" ]; then
  # The caller's voice, spoken by the speech synthesiser at telephone quality.
  espeak-ng -v it -s 150 -w "$DEMO/caller-raw.wav" -f "$SRC/data/demo/caller.txt"
  sox "$DEMO/caller-raw.wav" -r 8000 -c 1 -b 16 "$DEMO/caller.wav" pad 0.5 1
  rm -f "$DEMO/caller-raw.wav"
fi
