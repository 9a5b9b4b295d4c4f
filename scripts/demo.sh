#!/usr/bin/env bash
# The main job: builds q_lok and serves the search page on
# http://localhost:${QLOK_PORT:-8080}/ under lighttpd, on a SQLite database
# of generated jobs. Everything lives in build/demo (site home, web root,
# server config); stop with Ctrl-C.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QLOK_BUILD_DIR:-$root/build}
port=${QLOK_PORT:-8080}
jobs=${QLOK_DEMO_JOBS:-5000}

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

demo=$build/demo
home=$demo/home
web=$demo/web
mkdir -p "$home" "$web/q"
admin=$build/tools/q_lok-admin
export Q_LOK_HOME=$home

"$admin" site "$home"
if [ ! -s "$home/jobs.db" ]; then
  "$admin" init --home "$home"
  "$admin" generate "$jobs" --home "$home"
fi
# Mail goes to a receiver on loopback that keeps every message in
# build/demo/mails (N.subject, N.body, ...), so registrations can be tried
# without a real relay. It accepts the first sender account's login.
login="q2481xr736k:5d9p1s7tvak"
mkdir -p "$demo/mails"
coproc receiver { exec /usr/bin/python3 "$root/platform/testing/smtp_receiver.py" "$demo/mails" --login "$login"; }
read -r _ mail_port <&"${receiver[0]}"
server_pid=
trap 'kill $server_pid "$receiver_PID" 2>/dev/null' EXIT
trap 'exit 130' INT TERM
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
CONF

# The web server runs the program as another user when started as root.
chmod -R a+rwX "$demo"

cp "$root/demo/index.html" "$root/demo/style2.css" "$web/"
cp "$root/demo/moji.js" "$web/q/"
cp "$build/frame/q_lok.cgi" "$web/q/q_lok.cgi"

conf=$demo/lighttpd.conf
user_lines=""
if [ "$(id -u)" -eq 0 ]; then
  user_lines='server.username = "www-data"
server.groupname = "www-data"'
fi
cat > "$conf" <<CONF
server.modules = ( "mod_cgi", "mod_setenv" )
server.document-root = "$web"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$demo/error.log"
index-file.names = ( "index.html" )
mimetype.assign = ( ".html" => "text/html; charset=utf-8", ".css" => "text/css", ".js" => "text/javascript" )
cgi.assign = ( ".cgi" => "" )
setenv.add-environment = ( "Q_LOK_HOME" => "$home", "TZ" => "Asia/Tokyo" )
$user_lines
CONF

echo "Serving the search page on http://localhost:$port/ (site home $home;"
echo "mails land in $demo/mails; Ctrl-C stops)"
/usr/sbin/lighttpd -D -f "$conf" &
server_pid=$!
wait "$server_pid"
