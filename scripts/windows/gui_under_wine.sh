#!/usr/bin/env bash
# `orvik.exe gui` under Wine on a simulated player, driven from this side as
# the page drives it: the page itself, a request without the token (refused),
# the player's state, and a backup run through the API to its end.
#
#   gui_under_wine.sh ORVIK_EXE PLAYER_DIR
#
# Wine's Winsock is the host's sockets, so the server's 127.0.0.1 is this
# machine's loopback.  The prefix is build-win64/wine-prefix unless
# $WINEPREFIX names one.
set -euo pipefail
exe=${1:?usage: gui_under_wine.sh ORVIK_EXE PLAYER_DIR}
player=${2:?usage: gui_under_wine.sh ORVIK_EXE PLAYER_DIR}
export WINEPREFIX=${WINEPREFIX:-$PWD/build-win64/wine-prefix}
export WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
log=$player.gui.log

wine "$exe" --player "$player" --color never gui --no-browser >"$log" 2>&1 &
gui=$!
stop() {
  # Ctrl-C as the console sends it; the server stops within its poll.
  kill -INT "$gui" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$gui" 2>/dev/null || return 0; sleep 0.2; done
  kill -KILL "$gui" 2>/dev/null || true
}
trap stop EXIT
fail() {
  echo "orvik gui under Wine: $*" >&2
  cat "$log" >&2
  exit 1
}

url=
for _ in $(seq 300); do
  url=$(grep -o 'http://127\.0\.0\.1:[0-9]*/?token=[0-9a-f]*' "$log" | head -n 1 || true)
  [ -n "$url" ] && break
  kill -0 "$gui" 2>/dev/null || fail "it ended before it printed its address"
  sleep 0.2
done
[ -n "$url" ] || fail "no address printed within a minute"
base=${url%%/?token=*}
token=${url##*token=}
echo "orvik gui under Wine serves $base"

fetch() { curl -sS --max-time 120 -H "X-Orvik-Token: $token" "$@"; }
page=$(curl -sS --max-time 30 "$url") || fail "the page could not be fetched"
grep -q '<title>Orvik: your player</title>' <<<"$page" || fail "the page is not the player's page"
refused=$(curl -sS --max-time 30 -o /dev/null -w '%{http_code}' "$base/api/state")
[ "$refused" = 401 ] || fail "a request without the token got $refused, not 401"
state=$(fetch "$base/api/state") || fail "the state could not be read"
grep -q '"simulated":true' <<<"$state" || fail "the state does not name a simulated player: $state"
grep -q '"healthy":true' <<<"$state" || fail "the check did not find the player healthy: $state"

started=$(fetch -X POST -H 'Content-Type: application/json' \
  -d '{"file": "'"$player"'.gui-backup.img"}' "$base/api/operations/backup")
grep -q '"operation":"backup"' <<<"$started" || fail "the backup did not start: $started"
for _ in $(seq 600); do
  status=$(fetch "$base/api/operation")
  grep -q '"running":null' <<<"$status" && break
  sleep 0.2
done
grep -q '"running":null' <<<"$status" || fail "the backup did not end within two minutes"
grep -q '"exitCode":0' <<<"$status" || fail "the backup failed: $status"
[ -s "$player.gui-backup.img" ] || fail "the backup image was not written"
echo "orvik gui under Wine: page, token, state and a backup through the API"
