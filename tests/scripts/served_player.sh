#!/usr/bin/env bash
# A simulated player served on a Unix socket by `orvik-sim serve` (the
# simulator's name for `orvik sim serve`), reached
# by the library's device session through $ORVIK_DEVICE_DIR (the host tool
# with --device): device queries, a block scan, a quick format, and the
# player saved when the server stops.
set -euo pipefail
build_dir=$1
sim="$build_dir/tools/orvik-sim"
tool="$build_dir/tools/orvik"
[ -x "$sim" ] && [ -x "$tool" ] || { echo "orvik-sim or orvik not built"; exit 1; }

work=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$sim" create --player "$work/player" --flash-type 5 --bad-blocks 40 --card-mib 16 >/dev/null
export ORVIK_DEVICE_DIR="$work/sockets"
export ORVIK_REGISTRY="$work/registry.reg"
mkdir -p "$ORVIK_DEVICE_DIR"
"$sim" serve --player "$work/player" --device-dir "$ORVIK_DEVICE_DIR" >"$work/serve.log" 2>&1 &
server=$!
for _ in $(seq 100); do
  [ -S "$ORVIK_DEVICE_DIR/TEMBROr0" ] && break
  sleep 0.05
done
[ -S "$ORVIK_DEVICE_DIR/TEMBROr0" ] || { cat "$work/serve.log"; echo "no socket appeared"; exit 1; }

info=$("$tool" --device --json info)
grep -q '"type": 5' <<<"$info" || { echo "$info"; echo "info did not report flash type 5"; exit 1; }
grep -q '"ok": true' <<<"$info" || { echo "$info"; exit 1; }

blocks=$("$tool" --device --json blocks)
grep -q '"ok": true' <<<"$blocks" || { echo "$blocks"; exit 1; }

format=$("$tool" --device --json --yes quick-format)
grep -q '"ok": true' <<<"$format" || { echo "$format"; exit 1; }

kill -TERM "$server"
wait "$server" || true
server=
# The server saved the player: the formatted volume is on disk, and
# standard tools read it.
"$tool" --player "$work/player" sim export-fat --out "$work/volume.img" >/dev/null
if command -v fsck.fat >/dev/null; then
  fsck.fat -n "$work/volume.img" >"$work/fsck.log" 2>&1 ||
    grep -q "Label" "$work/fsck.log" || { cat "$work/fsck.log"; exit 1; }
fi
[ -s "$work/volume.img" ] || { echo "no volume was saved"; exit 1; }
echo "served player: info, scan and quick format over the socket, saved on stop"
