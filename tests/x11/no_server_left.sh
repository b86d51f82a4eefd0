#!/usr/bin/env bash
# Runs after every X11 and end-to-end test: fails when an Xvfb that a test
# started (its environment names the test's process) is still running
# although that test has ended.  Such a server is stopped here too, so a
# failing run leaves nothing behind either.
set -u
left() {
  local pid owner
  for pid in $(pgrep -x Xvfb); do
    owner=$(tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | sed -n 's/^MORVA_TEST_XVFB_OWNER=//p')
    [[ -n $owner ]] || continue
    kill -0 "$owner" 2>/dev/null && continue
    echo "$pid"
  done
}
# A server whose test has just ended gets its signal at once; give it a
# moment to go.
for _ in $(seq 50); do
  [[ -z $(left) ]] && { echo "no test server left running"; exit 0; }
  sleep 0.1
done
pids=$(left)
echo "Xvfb servers still running after their tests ended: $pids"
ps -o pid,args -p "$(tr '\n' ',' <<<"$pids" | sed 's/,$//')" || true
kill -KILL $pids 2>/dev/null || true
exit 1
