#!/usr/bin/env bash
# Runs a command with the services the tests need: a private PulseAudio server with a null
# sink "ci_sink" (its monitor is the default source) and a private PostgreSQL server for the
# shared catalogue (scripts/test-postgres.sh). Private folders keep the run away from the
# user's own files; every service is stopped by its PID at the end.
set -uo pipefail
SCRIPTS=$(cd "$(dirname "$0")" && pwd)

D=$(mktemp -d /tmp/kallomir-test.XXXXXX)
mkdir -p "$D/home" "$D/cfg" "$D/run" "$D/data"
chmod 700 "$D/run"
export HOME="$D/home" XDG_CONFIG_HOME="$D/cfg" XDG_RUNTIME_DIR="$D/run" XDG_DATA_HOME="$D/data"
export PULSE_SERVER="unix:$D/run/pulse/native"

PA=""
PG=""
cleanup() {
  if [ -n "$PA" ] && kill -0 "$PA" 2>/dev/null; then
    kill -TERM "$PA" 2>/dev/null
    wait "$PA" 2>/dev/null
  fi
  [ -n "$PG" ] && "$SCRIPTS/test-postgres.sh" stop "$PG"
  rm -rf "$D"
}
trap cleanup EXIT

if command -v pulseaudio >/dev/null 2>&1; then
  mkdir -p "$D/run/pulse"
  pulseaudio --daemonize=no -n --exit-idle-time=-1 --disallow-exit --log-target="file:$D/pulse.log" \
    -L "module-native-protocol-unix auth-anonymous=1 socket=$D/run/pulse/native" \
    -L "module-null-sink sink_name=ci_sink rate=44100 channels=2" >/dev/null 2>&1 </dev/null &
  PA=$!
  for _ in $(seq 1 100); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
  done
  if pactl info >/dev/null 2>&1; then
    pactl set-default-sink ci_sink
    pactl set-default-source ci_sink.monitor
    export KALLOMIR_PULSE=1
    echo "PulseAudio test server running (PID $PA)"
  else
    echo "PulseAudio did not start; audio integration tests will be skipped" >&2
    sed -n 1,20p "$D/pulse.log" >&2 2>/dev/null
  fi
fi

# The catalogue server: its folder must be reachable by the unprivileged user it runs as.
if [ -x /usr/lib/postgresql/15/bin/initdb ] || ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1; then
  chmod 711 "$D"
  if settings=$("$SCRIPTS/test-postgres.sh" init "$D/pg" 2>"$D/pg-init.log"); then
    PG="$D/pg"
    while IFS= read -r line; do export "${line?}"; done <<<"$settings"
    export KALLOMIR_TEST_PG_SCRIPT="$SCRIPTS/test-postgres.sh"
    echo "PostgreSQL test server running (port $KALLOMIR_TEST_PG_PORT)"
  else
    echo "PostgreSQL did not start; catalogue server tests will be skipped" >&2
    sed -n 1,20p "$D/pg-init.log" >&2
    [ -d "$D/pg" ] && "$SCRIPTS/test-postgres.sh" stop "$D/pg"
  fi
fi

"$@"
rc=$?
exit $rc
