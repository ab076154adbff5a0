#!/usr/bin/env bash
# Start-up to login window: runs the program with --startup-probe ten times on the offscreen
# platform and prints each figure and the median. Usage: bench/startup.sh [BUILD_DIR]
set -euo pipefail
BUILD=${1:-build}
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
mkdir -p "$T/home" "$T/run" && chmod 700 "$T/run"
printf 'bench\n' > "$T/home/2001Kallomir.Emx"
inner=()
outer=()
for _ in $(seq 1 10); do
  start=$(date +%s%N)
  line=$(QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$T/run" XDG_CONFIG_HOME="$T/cfg" HOME="$T" \
         "$BUILD/kallomir" --home "$T/home" --startup-probe 2>/dev/null)
  inner+=("$(echo "$line" | awk '{print $2}')")
  shown=$(echo "$line" | awk '{print $5}')
  outer+=("$(( shown - start / 1000000 ))")
done
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
echo "in-process start to login shown (ms): ${inner[*]}"
echo "process launch to login shown (ms): ${outer[*]}"
echo "median in-process: $(median "${inner[@]}") ms; median with process launch: $(median "${outer[@]}") ms (goal: under 300 ms)"
