#!/bin/sh
# Starts or stops a throw-away PostgreSQL server for the tests.
#
#   postgres_server.sh start [FOLDER [URI_FILE]]
#   postgres_server.sh stop  [FOLDER [URI_FILE]]
#
# FOLDER (else $QLOK_PG_DIR, else a new folder under ${TMPDIR:-/tmp} for
# start) holds the cluster, its log and its Unix socket; the server listens
# on no TCP address. "start" creates the database qlok_test, owned by the
# superuser "postgres", with the extension citext in the schema public,
# prints its connection URI
#   postgresql:///qlok_test?host=SOCKET_FOLDER&user=postgres
# and writes it to URI_FILE (else $QLOK_PG_URI_FILE, else FOLDER/uri) once
# the server is ready. "stop" stops the server, removes the cluster and the
# URI file. A server left running in FOLDER by an earlier run is stopped
# first.
#
# Run as root, the server runs as the user "postgres" (which must exist);
# when that user cannot reach FOLDER, or the socket path would be too long,
# the cluster goes into a folder under ${TMPDIR:-/tmp} instead, recorded in
# FOLDER/cluster. Run as anyone else, it runs as the caller.
# $QLOK_PG_SETTINGS, when set, adds server settings ("-c huge_pages=on",
# say) to those the script gives.
set -eu

action=${1:-}
folder=${2:-${QLOK_PG_DIR:-}}
case $action in
  start|stop) ;;
  *) echo "usage: $0 start|stop [FOLDER [URI_FILE]]" >&2; exit 2 ;;
esac
if [ -z "$folder" ]; then
  if [ "$action" = stop ]; then
    echo "$0: stop needs the FOLDER given to start" >&2
    exit 2
  fi
  folder=$(mktemp -d "${TMPDIR:-/tmp}/qlok_pg.XXXXXX")
fi
mkdir -p "$folder"
folder=$(cd "$folder" && pwd)
uri_file=${3:-${QLOK_PG_URI_FILE:-$folder/uri}}

bindir=
for candidate in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
  if [ -x "$candidate/initdb" ] && [ -x "$candidate/pg_ctl" ]; then
    bindir=$candidate
    break
  fi
done
if [ -z "$bindir" ]; then
  echo "$0: no PostgreSQL server programs under /usr/lib/postgresql/*/bin" >&2
  exit 1
fi

# Runs a server program as the user the server runs as.
as_server() {
  if [ "$(id -u)" = 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

cluster_of() {
  if [ -f "$folder/cluster" ]; then cat "$folder/cluster"; else echo "$folder"; fi
}

stop_cluster() {
  cluster=$(cluster_of)
  if [ -f "$cluster/data/postmaster.pid" ]; then
    as_server "$bindir/pg_ctl" -D "$cluster/data" -m immediate -w stop \
      >/dev/null 2>&1 || true
  fi
  rm -rf "$cluster/data" "$cluster/socket" "$cluster/server.log"
  if [ "$cluster" != "$folder" ]; then rm -rf "$cluster"; fi
  rm -f "$folder/cluster"
}

rm -f "$uri_file"
stop_cluster
if [ "$action" = stop ]; then
  rmdir "$folder" 2>/dev/null || true
  exit 0
fi

cluster=$folder
if [ "$(id -u)" = 0 ]; then
  chown postgres "$folder"
  # The socket path must stay within the 107 bytes of a Unix socket name.
  if ! runuser -u postgres -- test -w "$folder" ||
     [ ${#folder} -gt 80 ]; then
    cluster=$(mktemp -d "${TMPDIR:-/tmp}/qlok_pg.XXXXXX")
    chown postgres "$cluster"
    echo "$cluster" >"$folder/cluster"
  fi
elif [ ${#folder} -gt 80 ]; then
  cluster=$(mktemp -d "${TMPDIR:-/tmp}/qlok_pg.XXXXXX")
  echo "$cluster" >"$folder/cluster"
fi
chmod 700 "$cluster"
socket=$cluster/socket
as_server mkdir -p "$socket"

if ! as_server "$bindir/initdb" -D "$cluster/data" -U postgres -A trust \
    -E UTF8 --no-locale >"$cluster/initdb.log" 2>&1; then
  cat "$cluster/initdb.log" >&2
  exit 1
fi
rm -f "$cluster/initdb.log"
if ! as_server "$bindir/pg_ctl" -D "$cluster/data" -l "$cluster/server.log" \
    -w -t 60 -o "-c listen_addresses='' -k $socket -c fsync=off ${QLOK_PG_SETTINGS:-}" \
    start >/dev/null; then
  cat "$cluster/server.log" >&2 || true
  exit 1
fi
as_server "$bindir/createdb" -h "$socket" -U postgres qlok_test
# The job table's searched texts are citext. The extension is made once, in
# the schema public, so that tests working in schemas of their own (with
# public after theirs in the search path) share it and none drops it.
as_server "$bindir/psql" -X -q -h "$socket" -U postgres -d qlok_test \
  -c 'CREATE EXTENSION citext' >/dev/null

uri="postgresql:///qlok_test?host=$socket&user=postgres"
printf '%s\n' "$uri" >"$uri_file.tmp"
mv "$uri_file.tmp" "$uri_file"
echo "$uri"
