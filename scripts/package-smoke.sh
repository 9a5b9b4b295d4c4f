#!/usr/bin/env bash
# Builds the Debian package of q_lok (q-lok), has lintian judge it (no
# error, no warning), installs it on this machine (as root) and tries it
# from the installed paths: the site home that the package's tmpfiles rule
# laid out, a site in it made by q_lok-admin as www-data, "q_lok-admin
# check" on it, and one search answered by the installed q_lok.cgi behind
# lighttpd with the installed snippet. Then it enables both timers, purges
# the package (its timers' links must go, the site home must stay, and the
# purge must say so) and installs it again. CI runs it from .ci/run; it is
# not part of scripts/test.sh, which installs no package.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QLOK_BUILD_DIR:-$root/build}
home=/var/lib/q_lok
fail() { echo "package smoke test: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || fail "run it as root: it installs the package"
# A machine that serves a site keeps its installed package and its site.
[ ! -e "$home/pw/qevo.txt" ] ||
  fail "$home holds a site already; this test needs the fresh site home"
# Without a connection string there is no site, so request numbers left in
# the settings store by an interrupted run belong to nobody; they would only
# carry that run's owner into the site made below.
rm -rf "${home:?}"/settings/*
"$root/scripts/install-deps.sh" build demo package
"$root/scripts/build.sh" >/dev/null
rm -f "$build"/q-lok_*.deb "$build"/q_lok_*.deb
(cd "$build" && cpack -G DEB >"$build/cpack.log" 2>&1) ||
  { cat "$build/cpack.log" >&2; fail "cpack could not build the package"; }
deb=$(ls "$build"/q-lok_*.deb)

# lintian: no error and no warning; the informational and pedantic tags it
# still finds are listed (README.md, "The Debian package", says why each
# stays).
lintian --fail-on error,warning --display-info --pedantic "$deb" \
  >"$build/lintian.txt" 2>/dev/null ||
  { cat "$build/lintian.txt" >&2; fail "lintian finds errors or warnings"; }
grep -E '^[EW]: ' "$build/lintian.txt" >&2 &&
  fail "lintian finds errors or warnings"
echo "package smoke test: lintian finds no error and no warning;" \
  "informational and pedantic tags:" \
  "$(sed -nE 's/^[IP]: [^ ]+ ([^ ]+).*/\1/p' "$build/lintian.txt" | sort -u |
     tr '\n' ' ')"

apt_get() {
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 "$@"
}
# The package was once built as "q_lok", a name Debian does not allow; an
# installed one holds the same files.
if dpkg-query -W -f='${Status}' q_lok 2>/dev/null | grep -q ' installed'; then
  echo "package smoke test: removing the package of the old name q_lok"
  dpkg --remove q_lok >/dev/null
fi
echo "package smoke test: installing $deb"
apt_get install -y -qq --no-install-recommends "$deb" >/dev/null

version=$(/usr/bin/q_lok-admin --version)
[ "$version" = "q_lok-admin $(dpkg-deb -f "$deb" Version)" ] ||
  fail "q_lok-admin --version says \"$version\""
for program in q_lok.cgi q_lok-manage.cgi; do
  [ -x /usr/lib/cgi-bin/q_lok/$program ] || fail "no installed $program"
done
[ "$(stat -c %U:%G "$home" 2>/dev/null)" = www-data:www-data ] ||
  fail "the tmpfiles rule did not lay out $home for www-data"
[ -f "$home/received/worqlet.txt" ] || fail "no $home/received/worqlet.txt"
[ ! -e /etc/systemd/system/timers.target.wants/q_lok-notify.timer ] ||
  fail "the daily mail's timer is enabled; it should wait for the operator"

work=$(mktemp -d /tmp/qlok_package_smoke_XXXXXX)
chmod 755 "$work"
receiver_pid= server_pid=
cleanup() {
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
  [ -z "$receiver_pid" ] || kill "$receiver_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  # Back to the site home the package laid out.
  rm -rf "$home/pw/qevo.txt" "$home/pw/mail.txt" "$home/pw/token_key" \
    "$home/site.conf" \
    "$home"/jobs.db* "$home"/settings/*
  : > "$home/received/worqlet.txt"
  rm -rf "$work"
}
trap cleanup EXIT

as_web() { runuser -u www-data -- "$@"; }
as_web /usr/bin/q_lok-admin site "$home" >/dev/null
as_web /usr/bin/q_lok-admin init --home "$home" >/dev/null
as_web /usr/bin/q_lok-admin generate 300 --home "$home" >/dev/null

# Both relays at a local receiver, so that the check finds them answering.
mkdir "$work/mails"
exec {receiver_out}< <(exec /usr/bin/python3 \
  "$root/platform/testing/smtp_receiver.py" "$work/mails" --login user1:password1)
receiver_pid=$!
read -r -t 20 _ mail_port <&"$receiver_out" || fail "the mail receiver did not start"
as_web tee "$home/site.conf" >/dev/null <<CONF
[smtp]
first_relay = 127.0.0.1
second_relay = 127.0.0.1
submission_port = $mail_port
relay_port = $mail_port
CONF
/usr/bin/q_lok-admin check --home "$home" --user www-data >"$work/check.txt" ||
  { cat "$work/check.txt" >&2; fail "q_lok-admin check finds problems"; }

port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir "$work/htdocs" "$work/logs"
chown www-data: "$work/logs"  # lighttpd opens its logs as www-data
cat > "$work/lighttpd.conf" <<CONF
server.document-root = "$work/htdocs"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$work/logs/error.log"
server.breakagelog = "$work/logs/cgi-stderr.log"
server.username = "www-data"
server.groupname = "www-data"
include "/usr/share/q_lok/web-servers/lighttpd.conf"
CONF
/usr/sbin/lighttpd -D -f "$work/lighttpd.conf" &
server_pid=$!

if ! /usr/bin/python3 - "$port" <<'PY'; then
import sys, time, urllib.parse, urllib.request
base = "http://127.0.0.1:%s/q/" % sys.argv[1]
fields = [("_su", "is1"), ("aaa", ""), ("aa6", "1"), ("aa8", "100"),
          ("aab", ""), ("aac", "事務"), ("aad", ""), ("aae", ""), ("aaf", ""),
          ("aag", ""), ("aah", ""), ("aai", "0"), ("asa", "2"), ("zzz", "end")]
body = urllib.parse.urlencode(fields, encoding="cp932").encode()
for _ in range(100):
    try:
        page = urllib.request.urlopen(base + "q_lok.cgi", body, 30).read()
        break
    except OSError as error:
        last = error
        time.sleep(0.1)
else:
    sys.exit("the server did not answer: %s" % last)
text = page.decode("cp932", errors="replace")
if "件の求人がヒットしました" not in text:
    sys.exit("the page has no hit count:\n" + text[:2000])
urllib.request.urlopen(base + "moji.js", None, 30).read()
# The manage page beside it: its address form.
manage = urllib.request.urlopen(base + "q_lok-manage.cgi", None, 30).read()
if "メールアドレス" not in manage.decode("cp932", errors="replace"):
    sys.exit("the manage page has no address form:\n" + manage[:2000].decode(
        "cp932", errors="replace"))
PY
  cat "$work"/logs/* >&2 2>/dev/null || true
  fail "no search answered (see above)"
fi
echo "package smoke test: $version installed; check passes; a search and the manage page answered through lighttpd"

# Purge: the links that enabling the timers made go with the package; the
# site home stays, and the purge says so.
kill "$server_pid" "$receiver_pid" 2>/dev/null || true
wait 2>/dev/null || true
server_pid= receiver_pid=
wants=/etc/systemd/system/timers.target.wants
systemctl enable q_lok-notify.timer q_lok-outbox.timer >/dev/null 2>&1 ||
  fail "systemctl cannot enable the package's timers"
for timer in q_lok-notify.timer q_lok-outbox.timer; do
  [ -L "$wants/$timer" ] || fail "enabling $timer made no link in $wants"
done
apt_get purge -y -qq q-lok >"$work/purge.txt" 2>&1 ||
  { cat "$work/purge.txt" >&2; fail "the package cannot be purged"; }
for timer in q_lok-notify.timer q_lok-outbox.timer; do
  [ ! -L "$wants/$timer" ] || fail "the purge left the link $wants/$timer"
done
[ -d "$home" ] || fail "the purge removed the site home $home"
grep -q "the site home $home stays" "$work/purge.txt" ||
  { cat "$work/purge.txt" >&2; fail "the purge does not say that $home stays"; }
apt_get install -y -qq --no-install-recommends "$deb" >/dev/null
echo "package smoke test: the purge removed the timers' links and kept $home; the package is installed again"
