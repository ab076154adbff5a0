#!/usr/bin/env bash
# Sourced by scripts that start the program: where no sound server answers, starts a private
# PulseAudio server with a null sink (its monitor is the default source), so that recording,
# the mixer and playback work on a machine without sound hardware or a desktop session.
# Sets PULSE_SERVER for the caller and PRIVATE_PULSE_PID to the server's PID (empty when an
# existing server answers or none could be started); stop_private_sound_server stops it by
# that PID and removes its folder. The folder lives under /tmp: a socket path must be short.

PRIVATE_PULSE_PID=""
PRIVATE_PULSE_DIR=""

start_private_sound_server() {
  if pactl info >/dev/null 2>&1; then
    return 0
  fi
  if ! command -v pulseaudio >/dev/null 2>&1; then
    echo "No sound server answers and pulseaudio is not installed: the demo runs without sound." >&2
    return 0
  fi
  PRIVATE_PULSE_DIR=$(mktemp -d /tmp/kallomir-sound.XXXXXX)
  local dir=$PRIVATE_PULSE_DIR
  mkdir -p "$dir/home" "$dir/cfg" "$dir/run/pulse"
  chmod 700 "$dir/run"
  HOME="$dir/home" XDG_CONFIG_HOME="$dir/cfg" XDG_RUNTIME_DIR="$dir/run" \
    pulseaudio --daemonize=no -n --exit-idle-time=-1 --disallow-exit \
    --log-target="file:$dir/pulse.log" \
    -L "module-native-protocol-unix auth-anonymous=1 socket=$dir/run/pulse/native" \
    -L "module-null-sink sink_name=demo_sink rate=44100 channels=2" >/dev/null 2>&1 </dev/null &
  PRIVATE_PULSE_PID=$!
  export PULSE_SERVER="unix:$dir/run/pulse/native"
  for _ in $(seq 1 100); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
  done
  if ! pactl info >/dev/null 2>&1; then
    echo "The private sound server did not start: the demo runs without sound." >&2
    sed -n 1,20p "$dir/pulse.log" >&2 2>/dev/null || true
    stop_private_sound_server
    unset PULSE_SERVER
    return 0
  fi
  pactl set-default-sink demo_sink >/dev/null
  pactl set-default-source demo_sink.monitor >/dev/null
  echo "Private sound server started for the demo (PID $PRIVATE_PULSE_PID)."
}

stop_private_sound_server() {
  if [ -n "$PRIVATE_PULSE_PID" ] && kill -0 "$PRIVATE_PULSE_PID" 2>/dev/null; then
    kill -TERM "$PRIVATE_PULSE_PID" 2>/dev/null || true
    wait "$PRIVATE_PULSE_PID" 2>/dev/null || true
  fi
  PRIVATE_PULSE_PID=""
  if [ -n "$PRIVATE_PULSE_DIR" ]; then
    rm -rf "$PRIVATE_PULSE_DIR"
    PRIVATE_PULSE_DIR=""
  fi
}
