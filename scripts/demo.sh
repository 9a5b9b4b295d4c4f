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

echo "Serving the search page on http://localhost:$port/ (site home $home; Ctrl-C stops)"
exec /usr/sbin/lighttpd -D -f "$conf"
