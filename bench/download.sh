#!/bin/bash
# Download benchmark: one 300-segment HLS stream served on 127.0.0.1 with a delay on every
# request, fetched and merged into MP4 three ways:
#   (a) korvi-get URL OUT.mp4
#   (b) ffmpeg -i URL -c copy OUT.mp4                     (one request after another)
#   (c) by hand: the playlist, one aria2c -i LIST -d DIR run, ffmpeg -allowed_extensions ALL merge
# Prints the median of each and writes them into bench/README.md.
#
# usage: bench/download.sh [--korvi-get PATH] [--runs N] [--latency-ms N] [--streams DIR]
#                          [--no-readme]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
korvi_get=$repo/build/korvi-get
runs=5
latency=50
streams=${TMPDIR:-/tmp}/korvi-bench-streams
write_readme=1

while [ $# -gt 0 ]; do
    case $1 in
    --korvi-get) korvi_get=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --latency-ms) latency=$2; shift 2 ;;
    --streams) streams=$2; shift 2 ;;
    --no-readme) write_readme=0; shift ;;
    -h | --help) sed -n '2,11p' "$0"; exit 0 ;;
    *) echo "download.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
case $runs in '' | *[!0-9]* | 0) echo "download.sh: --runs wants a positive number" >&2; exit 2 ;; esac

PY=/usr/bin/python3
for tool in ffmpeg ffprobe aria2c curl "$PY"; do
    command -v "$tool" >/dev/null || { echo "download.sh: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/korvi-bench.XXXXXX")
server_pid=
cleanup() {
    if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
        kill -TERM "$server_pid" 2>/dev/null || true
        for _ in 1 2 3 4 5 6 7 8 9 10; do
            kill -0 "$server_pid" 2>/dev/null || break
            sleep 0.2
        done
        kill -KILL "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if ! grep -qx big "$streams/.complete" 2>/dev/null; then
    echo "making the 300-segment stream in $streams"
    bash "$repo/tests/server/make_streams.sh" "$streams" --big
fi

# Bounded by itself too, in case this script is killed before its trap runs.
"$PY" "$repo/tests/server/hls_server.py" --root "$streams" --port 0 \
    --port-file "$work/port" --latency-ms "$latency" --max-seconds 1800 &
server_pid=$!
for _ in $(seq 100); do
    [ -s "$work/port" ] && break
    sleep 0.1
done
[ -s "$work/port" ] || { echo "download.sh: the test server did not start" >&2; exit 1; }
base=http://127.0.0.1:$(cat "$work/port")
url=$base/big/index.m3u8
expected=$(ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 \
    -allowed_extensions ALL -i "$streams/big/index.m3u8")

now() { date +%s.%N; }

# Fails the benchmark when an output is not the whole stream: a fast wrong answer is no result.
check_output() { # file what
    local d
    d=$(ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 -i "$1" || true)
    if [ -z "$d" ] || ! awk -v d="$d" -v e="$expected" 'BEGIN { exit !(d > e - 1 && d < e + 1) }'; then
        echo "download.sh: $2 gave a bad output (duration '${d}', expected $expected)" >&2
        exit 1
    fi
}

run_korvi_get() {
    local out=$work/a.mp4
    rm -f "$out"
    "$korvi_get" "$url" "$out" >/dev/null 2>"$work/a.err" || {
        echo "download.sh: korvi-get failed:" >&2
        cat "$work/a.err" >&2
        exit 1
    }
    check_output "$out" korvi-get
}

run_plain_ffmpeg() {
    local out=$work/b.mp4
    rm -f "$out"
    ffmpeg -nostdin -v error -y -i "$url" -c copy "$out"
    check_output "$out" "plain ffmpeg"
}

run_by_hand() {
    local dir=$work/c out=$work/c.mp4
    rm -rf "$dir" "$out"
    mkdir -p "$dir"
    curl -sf "$url" -o "$dir/remote.m3u8"
    # Relative segment lines resolve against the playlist's folder; local names for the merge.
    awk -v dir="$base/big/" -v list="$dir/list.txt" '
        /^#/ || /^[[:space:]]*$/ { print; next }
        { n++; name = n ".ts"; print dir $0 "\n out=" name > list; print name }
    ' "$dir/remote.m3u8" >"$dir/local.m3u8"
    aria2c -q -i "$dir/list.txt" -d "$dir"
    ffmpeg -nostdin -v error -y -allowed_extensions ALL -i "$dir/local.m3u8" -c copy "$out"
    check_output "$out" "by hand"
}

time_one() { # function -> seconds it took
    local t0 t1
    t0=$(now)
    "$1"
    t1=$(now)
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f\n", b - a }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

load_before=$(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || echo unknown)
echo "stream: $url (300 segments, ${latency} ms per request), $runs runs each"
have_korvi=1
if [ ! -x "$korvi_get" ]; then
    have_korvi=0
    echo "(a) skipped: korvi-get not found at $korvi_get (build it, or pass --korvi-get PATH)"
fi

# Interleaved, so a change in the machine's load during the benchmark falls on all three alike.
: >"$work/a.times"
: >"$work/b.times"
: >"$work/c.times"
for i in $(seq "$runs"); do
    line="run $i:"
    if [ $have_korvi = 1 ]; then
        t=$(time_one run_korvi_get)
        echo "$t" >>"$work/a.times"
        line="$line (a) korvi-get $t s,"
    fi
    t=$(time_one run_plain_ffmpeg)
    echo "$t" >>"$work/b.times"
    line="$line (b) plain ffmpeg $t s,"
    t=$(time_one run_by_hand)
    echo "$t" >>"$work/c.times"
    echo "$line (c) by hand $t s"
done
[ $have_korvi = 1 ] && med_a=$(median <"$work/a.times")
med_b=$(median <"$work/b.times")
med_c=$(median <"$work/c.times")

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
verdict() { awk -v r="$1" -v t="$2" 'BEGIN { print (r <= t ? "met" : "missed") }'; }

{
    echo "Measured $(date -u '+%Y-%m-%d %H:%M UTC') on a machine with nproc $(nproc);"
    echo "300 segments of 0.5 s, ${latency} ms latency per request, median of $runs runs;"
    echo "load average when the runs began: $load_before (other work on the machine slows all three)."
    echo
    echo "| pipeline | median (s) |"
    echo "|---|---|"
    if [ $have_korvi = 1 ]; then
        echo "| (a) korvi-get | $med_a |"
    else
        echo "| (a) korvi-get | not measured: no korvi-get at \`${korvi_get#"$repo"/}\` |"
    fi
    echo "| (b) plain ffmpeg | $med_b |"
    echo "| (c) by hand: aria2c + ffmpeg merge | $med_c |"
    echo
    if [ $have_korvi = 1 ]; then
        r_c=$(ratio "$med_a" "$med_c")
        r_b=$(ratio "$med_a" "$med_b")
        echo "| ratio | value | target | |"
        echo "|---|---|---|---|"
        echo "| korvi-get / by hand | $r_c | at most 1.2 | $(verdict "$r_c" 1.2) |"
        echo "| korvi-get / plain ffmpeg | $r_b | at most 0.4 | $(verdict "$r_b" 0.4) |"
    else
        echo "Ratios need korvi-get. Targets: korvi-get / by hand at most 1.2, korvi-get / plain ffmpeg at most 0.4."
    fi
} >"$work/results.md"

echo
cat "$work/results.md"

if [ $write_readme = 1 ]; then
    readme=$here/README.md
    begin='<!-- download.sh results begin -->'
    end='<!-- download.sh results end -->'
    "$PY" - "$readme" "$work/results.md" "$begin" "$end" <<'PY'
import os, sys
readme, results, begin, end = sys.argv[1:5]
text = open(readme, encoding="utf-8").read() if os.path.exists(readme) else ""
block = begin + "\n" + open(results, encoding="utf-8").read() + end
if begin in text and end in text:
    head, rest = text.split(begin, 1)
    text = head + block + rest.split(end, 1)[1]
else:
    text = text.rstrip("\n") + "\n\n## Latest download run\n\n" + block + "\n"
tmp = readme + ".tmp"
with open(tmp, "w", encoding="utf-8") as f:
    f.write(text)
os.replace(tmp, readme)
PY
    echo "results written to ${readme#"$repo"/}"
fi
