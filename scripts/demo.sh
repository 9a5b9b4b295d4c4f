#!/usr/bin/env bash
# The main job: builds q_lok and serves the search page on
# http://localhost:${QLOK_PORT:-8080}/ under lighttpd, on a SQLite database
# of ${QLOK_DEMO_JOBS:-5000} generated jobs, with a local mail receiver in
# place of the relays. Everything lives in build/demo (site home, web root,
# server configuration, mails); nothing else on the machine is changed and
# no service of the machine is started or stopped. Ctrl-C stops it.
set -euo pipefail
. "$(dirname "$0")/demo-env.sh"
port=${QLOK_PORT:-8080}
jobs=${QLOK_DEMO_JOBS:-5000}
say() { echo "demo: $*"; }

case $port in
  '' | *[!0-9]*) say "QLOK_PORT must be a port number, not \"$port\""; exit 2 ;;
esac
case $jobs in
  '' | *[!0-9]*) say "QLOK_DEMO_JOBS must be a number, not \"$jobs\""; exit 2 ;;
esac
port_is_free() {
  /usr/bin/python3 - "$1" <<'PY' 2>/dev/null
import socket, sys
with socket.socket() as s:
    # As the web server binds: a port left in TIME_WAIT counts as free.
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("127.0.0.1", int(sys.argv[1])))
PY
}
busy_port() {
  say "port $port is taken by another program on this machine."
  say "Choose another one, for example: QLOK_PORT=8081 $0"
  exit 1
}

"$root/scripts/install-deps.sh" build demo
"$root/scripts/build.sh"
port_is_free "$port" || busy_port

logs=$demo/logs
mkdir -p "$home" "$web/q" "$mails" "$logs"
export Q_LOK_HOME=$home TZ=$site_tz
# As root, the site home goes to the user lighttpd runs the programs as.
owner=()
[ "$(id -u)" -ne 0 ] || owner=(--owner www-data)
"$admin" site "$home" "${owner[@]}" >/dev/null

# The jobs: made anew when QLOK_DEMO_JOBS differs from the last run's.
count_file=$demo/jobs.count
if [ ! -s "$home/jobs.db" ]; then
  rm -f "$home/jobs.db" "$count_file"
  "$admin" init --home "$home" >/dev/null
fi
if [ "$(cat "$count_file" 2>/dev/null)" != "$jobs" ]; then
  say "generating $jobs jobs"
  "$admin" generate "$jobs" --replace --home "$home" >/dev/null
  echo "$jobs" > "$count_file"
fi

# Mail goes to a receiver on loopback that keeps every message in
# build/demo/mails (N.subject, N.body, ...; N goes on from run to run), so
# registrations can be tried without a real relay. It accepts the first
# sender account's login.
login="q2481xr736k:5d9p1s7tvak"
receiver_pid= server_pid=
stop() {
  trap - EXIT INT TERM
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
  [ -z "$receiver_pid" ] || kill "$receiver_pid" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap stop EXIT
trap 'echo; say "stopped"; exit 0' INT TERM
exec {receiver_out}< <(exec /usr/bin/python3 \
  "$root/platform/testing/smtp_receiver.py" "$mails" --login "$login")
receiver_pid=$!
read -r -t 30 _ mail_port <&"$receiver_out" || {
  say "the mail receiver did not start"
  exit 1
}
printf '%s\r\nuser2:password2\r\nuser3:password3\r\n' "$login" > "$home/pw/mail.txt"
cat > "$home/site.conf" <<CONF
; The demo's site configuration: both relays are the local mail receiver.
[site]
top_url = http://localhost:$port/
map_base = http://localhost:$port
[smtp]
first_relay = 127.0.0.1
second_relay = 127.0.0.1
submission_port = $mail_port
relay_port = $mail_port
[senders]
account1 = demo@localhost.localdomain
[manage]
page_url = http://localhost:$port/q/q_lok-manage.cgi
CONF
# The advertisements' banners: placeholders of the demo's own.
n=1
for size in 468x60 728x90 320x50; do
  cat >> "$home/site.conf" <<CONF
[ad$n]
link = http://localhost:$port/
banner_image = http://localhost:$port/banner$size.svg
CONF
  n=$((n + 1))
done

cp "$root/demo/index.html" "$root/demo/style2.css" "$root"/demo/banner*.svg "$web/"
cp "$root/demo/moji.js" "$web/q/"
cp "$build/search_page/q_lok.cgi" "$build/manage/q_lok-manage.cgi" "$web/q/"

# Started as root, lighttpd runs the program as www-data, which must write
# the registration log and the settings store.
user_lines=""
if [ "$(id -u)" -eq 0 ]; then
  user_lines='server.username = "www-data"
server.groupname = "www-data"'
  # What init and generate made as root goes to www-data too.
  "$admin" site "$home" --owner www-data >/dev/null
  chown www-data: "$logs"  # lighttpd opens its logs as www-data
  chmod o+rx "$demo" "$home" "$web" "$web/q"
  # A folder above the project that other users may not enter (root's own
  # home is one) would leave every page an error.
  if ! runuser -u www-data -- test -x "$web/q/q_lok.cgi" -a -r "$home/site.conf"; then
    say "www-data, which runs the programs, cannot reach $demo: a folder above it is closed to other users."
    say "Put the project where other users may enter (under /srv or /opt, for example), or run the demo as an ordinary user."
    exit 1
  fi
fi

conf=$demo/lighttpd.conf
cat > "$conf" <<CONF
server.modules = ( "mod_cgi", "mod_setenv" )
server.document-root = "$web"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$logs/error.log"
server.breakagelog = "$logs/cgi-stderr.log"
index-file.names = ( "index.html" )
mimetype.assign = ( ".html" => "text/html; charset=utf-8", ".css" => "text/css", ".js" => "text/javascript", ".svg" => "image/svg+xml" )
cgi.assign = ( ".cgi" => "" )
setenv.add-environment = ( "Q_LOK_HOME" => "$home", "TZ" => "$site_tz" )
$user_lines
CONF

port_is_free "$port" || busy_port
/usr/sbin/lighttpd -D -f "$conf" &
server_pid=$!
for _ in $(seq 50); do
  if ! kill -0 "$server_pid" 2>/dev/null; then
    wait "$server_pid" || true
    port_is_free "$port" || busy_port
    say "lighttpd did not start; see $logs/error.log"
    exit 1
  fi
  ! port_is_free "$port" && break
  sleep 0.1
done
say "serving the search page on http://localhost:$port/"
say "site home $home; mails land in $mails"
say "the daily mail: scripts/demo-notify.sh in another terminal"
say "Ctrl-C stops"
wait "$server_pid" || true
