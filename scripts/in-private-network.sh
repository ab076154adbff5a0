#!/usr/bin/env bash
# Runs a test in a private network namespace with loopback only, so calls between the
# program and a real SIP peer never leave the machine. As root directly; otherwise in a user
# namespace where the kernel allows one. Where neither works the test runs as it is and
# skips what needs the namespace.
if [ "$(id -u)" -eq 0 ]; then
  exec "$@"
fi
if unshare -rn true 2>/dev/null; then
  exec unshare -rn "$@"
fi
exec "$@"
