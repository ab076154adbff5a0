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
if [ -f "$SRC/data/demo/demo-call.line" ]; then
  sed "s#@DATA@#$SRC/data/demo#g" "$SRC/data/demo/demo-call.line" > "$DEMO/demo-call.line"
else
  : > "$DEMO/demo-call.line"
fi
