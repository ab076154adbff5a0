#!/usr/bin/env bash
# A private PostgreSQL server for the tests: its own data folder, a private port on
# 127.0.0.1, run by an unprivileged user (initdb refuses root), stopped by its PID.
#   test-postgres.sh init DIR    create DIR/data, start it, make role "kallo" and database
#                                "kallomir"; prints the settings to export
#   test-postgres.sh start DIR   start the server of DIR again (same port)
#   test-postgres.sh stop DIR    fast shutdown; returns once postmaster.pid is gone
# DIR must be reachable by the server's user.
set -uo pipefail

cmd=${1:-}
D=${2:-}
[ -n "$cmd" ] && [ -n "$D" ] || { echo "usage: $0 init|start|stop DIR" >&2; exit 2; }

BIN=""
for v in 17 16 15; do
  [ -x "/usr/lib/postgresql/$v/bin/pg_ctl" ] && { BIN="/usr/lib/postgresql/$v/bin"; break; }
done
[ -n "$BIN" ] || { echo "PostgreSQL server binaries not found" >&2; exit 1; }

# The server's user: as root an unprivileged account, otherwise ourselves.
as_server() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u "$(cat "$D/server-user")" -- "$@"
  else
    "$@"
  fi
}

stop_server() {
  [ -e "$D/data/postmaster.pid" ] || return 0
  local pid
  pid=$(head -1 "$D/data/postmaster.pid")
  kill -INT "$pid" 2>/dev/null
  # The PID may stay a zombie for a while after the server has finished: wait for the pid file.
  for _ in $(seq 1 1000); do
    [ -e "$D/data/postmaster.pid" ] || return 0
    sleep 0.01
  done
  echo "PostgreSQL (PID $pid) did not stop" >&2
  return 1
}

start_server() {
  as_server "$BIN/pg_ctl" -D "$D/data" -l "$D/server.log" -w -t 30 start >/dev/null
}

case "$cmd" in
  init)
    mkdir -p "$D"
    user=$(id -un)
    if [ "$(id -u)" -eq 0 ]; then
      user=postgres
      id postgres >/dev/null 2>&1 || user=nobody
      chown "$user" "$D"
    fi
    echo "$user" >"$D/server-user"
    printf 'admin-%s\n' "$RANDOM$RANDOM" >"$D/admin.pw"
    printf 'kallo-%s\n' "$RANDOM$RANDOM" >"$D/kallo.pw"
    chmod 600 "$D/admin.pw" "$D/kallo.pw"
    [ "$(id -u)" -eq 0 ] && chown "$user" "$D/admin.pw"
    as_server "$BIN/initdb" -D "$D/data" -U admin --pwfile="$D/admin.pw" -A scram-sha-256 \
      -E UTF8 --locale=C.UTF-8 --no-instructions -N >"$D/initdb.log" 2>&1 ||
      { cat "$D/initdb.log" >&2; exit 1; }
    # A free port; the settings go into the configuration so that a restart needs no options.
    port=""
    for _ in $(seq 1 50); do
      p=$((20000 + RANDOM % 30000))
      if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then port=$p; break; fi
    done
    [ -n "$port" ] || { echo "no free port" >&2; exit 1; }
    {
      echo "port = $port"
      echo "listen_addresses = '127.0.0.1'"
      echo "unix_socket_directories = '$D'"
      echo "fsync = off"
      echo "max_connections = 60"
    } >>"$D/data/postgresql.conf"
    start_server || { cat "$D/server.log" >&2; exit 1; }
    PGPASSWORD=$(head -1 "$D/admin.pw") psql -h 127.0.0.1 -p "$port" -U admin -d postgres -qAt \
      -c "CREATE ROLE kallo LOGIN PASSWORD '$(head -1 "$D/kallo.pw")'" \
      -c "CREATE DATABASE kallomir OWNER kallo" >/dev/null || exit 1
    echo "KALLOMIR_TEST_PG_HOST=127.0.0.1"
    echo "KALLOMIR_TEST_PG_PORT=$port"
    echo "KALLOMIR_TEST_PG_DATABASE=kallomir"
    echo "KALLOMIR_TEST_PG_USER=kallo"
    echo "KALLOMIR_TEST_PG_PASSWORD_FILE=$D/kallo.pw"
    echo "KALLOMIR_TEST_PG_SERVER=$D"
    ;;
  start) start_server ;;
  stop) stop_server ;;
  *) echo "usage: $0 init|start|stop DIR" >&2; exit 2 ;;
esac
