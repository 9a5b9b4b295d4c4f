# The demo's places, for scripts/demo.sh and for scripts that work on the
# running demo (source it: . scripts/demo-env.sh).
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QLOK_BUILD_DIR:-$root/build}
demo=$build/demo            # everything of the demo lives here
home=$demo/home             # the site home (Q_LOK_HOME)
web=$demo/web               # the web root
mails=$demo/mails           # the mails the local receiver keeps
admin=$build/tools/q_lok-admin
# The site's time zone: the web server gives it to the programs, and the
# operator's commands run in it too (the daily mail is dated in it, and the
# generated jobs' deadlines lie around its today).
site_tz=Asia/Tokyo
