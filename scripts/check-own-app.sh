#!/usr/bin/env bash
# Builds the shell around another app through the CMake options CORVID_CONFIG and CORVID_APP_DIR
# (the fixture in tests/app/install/data), starts it headless and checks that the other app's
# page ran: it writes storage/own-app.txt beside the program through QtObj.
# Usage: scripts/check-own-app.sh [build dir, default build-ownapp]
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
cd "$source"
build=${1:-build-ownapp}
data=tests/app/install/data
begin=$SECONDS

# Configured from inside the build folder: the relative paths are taken from the source folder.
mkdir -p "$build"
(cd "$build" && cmake -S "$source" -B . -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=OFF -DBUILD_BENCHMARKS=OFF \
    -DCORVID_CONFIG="$data/ownapp.ini" -DCORVID_APP_DIR="$data/OwnApp" >/dev/null)
cmake --build "$build" -j "${JOBS:-2}" --target corvid
built=$SECONDS

bin=$build/bin
marker=$bin/storage/own-app.txt
[[ -f $bin/app/OwnApp/index.html ]] || { echo "check-own-app: app/OwnApp is not beside the program" >&2; exit 1; }
rm -f "$marker"

# The user's folders point into a scratch folder, so nothing of a real session is touched.
scratch=$(mktemp -d)
pid=""
# Keeps the script's own status: the shell, ended here, would otherwise lend it its 143.
cleanup() {
    local status=$?
    if [[ -n $pid ]]; then
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    rm -rf "$scratch"
    exit "$status"
}
trap cleanup EXIT
mkdir -p "$scratch"/{home,data,config,runtime,tmp}
chmod 700 "$scratch/runtime"
(cd "$bin" && exec env QT_QPA_PLATFORM=offscreen HOME="$scratch/home" \
    XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config" \
    XDG_RUNTIME_DIR="$scratch/runtime" TMPDIR="$scratch/tmp" ./corvid >"$scratch/output" 2>&1) &
pid=$!

for _ in $(seq 600); do
    [[ -s $marker ]] && break
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "check-own-app: the shell ended before the app wrote its file:" >&2
        cat "$scratch/output" >&2
        exit 1
    fi
    sleep 0.1
done
expected="Own App loaded from $(cd "$bin" && pwd -P)/app/OwnApp/index.html"
if [[ "$(cat "$marker" 2>/dev/null)" != "$expected" ]]; then
    echo "check-own-app: expected \"$expected\" in $marker, found \"$(cat "$marker" 2>/dev/null)\"" >&2
    cat "$scratch/output" >&2
    exit 1
fi
echo "check-own-app: passed (configure and build $((built - begin)) s, start to the app's write $((SECONDS - built)) s)"
