#!/usr/bin/env bash
# The daily job-match mail in the demo: run it while scripts/demo.sh serves
# the search page (in another terminal). It adds some new jobs to the
# demo's database, as the day's import would, and runs "q_lok-admin notify"
# against the demo's site home (build/demo/home), so every registration
# made on the page gets a daily mail with the new jobs that match it; the
# mails land in build/demo/mails beside the first match mails.
#
#   scripts/demo-notify.sh            # QLOK_DEMO_NEW_JOBS (default 300) new jobs
#   QLOK_DEMO_NEW_JOBS=0 scripts/demo-notify.sh   # no new jobs: no mail
set -euo pipefail
. "$(dirname "$0")/demo-env.sh"
new_jobs=${QLOK_DEMO_NEW_JOBS:-300}
# The daily mail is dated, and the new jobs' deadlines set, in the site's
# time zone, as the search page's are.
export TZ=$site_tz

if [ ! -f "$home/site.conf" ] || [ ! -x "$admin" ]; then
  echo "Start the demo first: scripts/demo.sh (it builds and lays out $home)" >&2
  exit 1
fi
# A demo database made before the registrations were kept gets their
# tables (init refuses, changing nothing, when every table is there).
"$admin" init --home "$home" >/dev/null 2>&1 || true

if [ "$new_jobs" -gt 0 ]; then
  "$admin" generate "$new_jobs" --seed "$(date +%s)" --home "$home"
fi
status=0
"$admin" notify --home "$home" || status=$?
"$admin" registrations --home "$home"
echo "Daily mails land in $mails (N.subject, N.body, N.eml);"
echo "their links open the manage page of the registration (?t=...)"
if [ "$status" -ne 0 ]; then
  echo "Some mails were not accepted: is scripts/demo.sh running?" >&2
fi
exit "$status"
