#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need.
# As root it runs apt-get; otherwise it prints the exact command and stops.
set -euo pipefail

PACKAGES=(
  # build
  cmake g++ make pkg-config git
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  # audio
  portaudio19-dev libsndfile1-dev libsamplerate0-dev libasound2-dev libasound2-plugins
  # SIP line: the stack, TLS and SRTP through OpenSSL, wideband codecs
  libre-dev librem-dev libssl-dev libspandsp-dev libopus-dev
  # player: tempo with the pitch kept, the transcription pedal
  libsoundtouch-dev libevdev-dev
  # catalogue: the shared server's driver, the Italian stemmer, export archives
  libqt6sql6-psql libstemmer-dev libzip-dev
  # catalogue: SQLite itself, for the transcriptions' word index (FTS5 tokenizer)
  libsqlite3-dev
  # desktop integration and packaging
  qt6-translations-l10n desktop-file-utils appstream dpkg-dev file
  # tests: real audio server, sound tools, SIP peer, screens, fonts
  pulseaudio pulseaudio-utils alsa-utils sox espeak-ng baresip-core iproute2 util-linux
  tcpdump openssl postgresql postgresql-contrib zip unzip
  xvfb xauth imagemagick fonts-dejavu-core
  # screenshots of the running program (scripts/screenshots.sh)
  xdotool sqlite3
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing Debian packages. Install them with:" >&2
  echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" </dev/null
