#!/usr/bin/env bash
# Builds the Debian package from a built tree, unpacks it into a scratch root and checks that
# it installs like a desktop program: the binary runs, the menu entry, icon, AppStream
# description and manual page are where desktops and man look for them and pass their
# validators, and the dependencies name what the program loads at run time.
# Usage: deb-package-test.sh BUILD_DIR. Exit 77 (skipped) where the tools are missing.
set -euo pipefail
BUILD=$1
APP_ID=org.kallomir.Kallomir

missing=()
for tool in cpack dpkg-deb dpkg-shlibdeps file desktop-file-validate appstreamcli gzip; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "SKIPPED: missing ${missing[*]} (Debian packages dpkg-dev file desktop-file-utils appstream;" \
       "scripts/install-deps.sh installs them)"
  exit 77
fi
[ -x "$BUILD/kallomir" ] || { echo "no built program in $BUILD"; exit 1; }

WORK=$(mktemp -d /tmp/kallomir-deb.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
fail=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@" >"$WORK/out" 2>&1; then
    echo "ok: $what"
  else
    echo "FAILED: $what"; sed 's/^/  /' "$WORK/out"; fail=1
  fi
}

cpack -G DEB -B "$WORK/pkg" --config "$BUILD/CPackConfig.cmake" >"$WORK/cpack.log" 2>&1 ||
  { cat "$WORK/cpack.log"; exit 1; }
DEB=$(ls "$WORK"/pkg/kallomir_*.deb)
echo "built $(basename "$DEB")"
dpkg-deb -x "$DEB" "$WORK/root"
R=$WORK/root/usr

check "binary installed and executable" test -x "$R/bin/kallomir"
check "binary runs from the package" \
  sh -c "QT_QPA_PLATFORM=offscreen '$R/bin/kallomir' --version | grep -q '1\.0\.0'"
check "menu entry installed" test -f "$R/share/applications/$APP_ID.desktop"
check "menu entry valid" desktop-file-validate "$R/share/applications/$APP_ID.desktop"
check "menu entry starts the installed binary" \
  sh -c "grep -qx 'Exec=kallomir' '$R/share/applications/$APP_ID.desktop' && test -x '$R/bin/kallomir'"
check "menu entry names the installed icon" \
  sh -c "grep -qx 'Icon=$APP_ID' '$R/share/applications/$APP_ID.desktop'"
check "scalable icon installed" test -s "$R/share/icons/hicolor/scalable/apps/$APP_ID.svg"
check "256x256 icon installed" \
  sh -c "file '$R/share/icons/hicolor/256x256/apps/$APP_ID.png' | grep -q '256 x 256'"
check "AppStream metainfo installed" test -f "$R/share/metainfo/$APP_ID.metainfo.xml"
check "AppStream metainfo valid" appstreamcli validate --no-net "$R/share/metainfo/$APP_ID.metainfo.xml"
check "AppStream metainfo launches the menu entry" \
  grep -q "<launchable type=\"desktop-id\">$APP_ID.desktop</launchable>" "$R/share/metainfo/$APP_ID.metainfo.xml"
check "manual page kallomir(1) installed compressed" \
  sh -c "gzip -dc '$R/share/man/man1/kallomir.1.gz' | grep -q '^\.TH KALLOMIR 1'"

depends=$(dpkg-deb -f "$DEB" Depends)
echo "Depends: $depends"
for need in "libqt6core6 (>=" "libqt6widgets6 (>=" "libqt6sql6 (>=" libqt6sql6-sqlite \
            libasound2-plugins qt6-translations-l10n "libportaudio2 (>="; do
  check "Depends names $need" grep -qF "$need" <<<"$depends"
done
exit $fail
