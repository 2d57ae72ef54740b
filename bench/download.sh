#!/bin/bash
# Download benchmark, side by side: four HLS streams served on 127.0.0.1 by the test server,
# each fetched and turned into one file by five pipelines, all interleaved in one run:
#   korvi     korvi-get URL OUT.mp4
#   hand      by hand: the playlist, one plain `aria2c -i LIST -d DIR` run, ffmpeg merge
#   ffmpeg    ffmpeg -i URL -c copy OUT.mp4              (one request after another)
#   ytdlp     yt-dlp --downloader aria2c URL             (Debian's package)
#   streamlink streamlink --hls-segment-threads 5 URL best  (Debian's package)
# Streams: 600 x 0.5 s at 50 ms per request; 300 x 2 s at 50 ms; 300 x 2 s with no added
# latency; 300 x 2 s at 50 ms with 30% of segment requests answered 500.
# Every output is checked against the source by decoded frame checksums (ffmpeg framemd5): a
# run whose frames differ counts as incomplete, not as a time. Medians and ratios go to
# bench/README.md.
#
# usage: bench/download.sh [--korvi-get PATH] [--runs N] [--slow-runs N] [--streams DIR]
#                          [--no-install] [--no-readme]
#   --runs N       rounds (default 5); --slow-runs N: rounds in which plain ffmpeg runs on the
#                  50 ms streams (default 3; it fetches one segment after another and takes
#                  half a minute per run there)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
korvi_get=$repo/build/korvi-get
runs=5
slow_runs=3
streams=${TMPDIR:-/tmp}/korvi-bench-streams2
install=1
write_readme=1

while [ $# -gt 0 ]; do
    case $1 in
    --korvi-get) korvi_get=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --slow-runs) slow_runs=$2; shift 2 ;;
    --streams) streams=$2; shift 2 ;;
    --no-install) install=0; shift ;;
    --no-readme) write_readme=0; shift ;;
    -h | --help) sed -n '2,20p' "$0"; exit 0 ;;
    *) echo "download.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
for n in "$runs" "$slow_runs"; do
    case $n in '' | *[!0-9]* | 0) echo "download.sh: run counts want positive numbers" >&2; exit 2 ;; esac
done

PY=/usr/bin/python3
for tool in ffmpeg ffprobe aria2c curl "$PY"; do
    command -v "$tool" >/dev/null || { echo "download.sh: $tool is missing" >&2; exit 1; }
done

# The two peers come from Debian's packages; a row is skipped, saying so, when one cannot run.
skip_note=
have() { command -v "$1" >/dev/null 2>&1; }
if [ $install = 1 ] && { ! have yt-dlp || ! have streamlink; }; then
    echo "installing yt-dlp and streamlink from Debian's packages"
    DEBIAN_FRONTEND=noninteractive apt-get install -y yt-dlp streamlink >/dev/null 2>&1 || true
fi
have_ytdlp=1 have_streamlink=1 have_korvi=1
have yt-dlp || { have_ytdlp=0; skip_note="$skip_note yt-dlp is not installed;"; }
have streamlink || { have_streamlink=0; skip_note="$skip_note streamlink is not installed;"; }
[ -x "$korvi_get" ] || { have_korvi=0; skip_note="$skip_note no korvi-get at $korvi_get;"; }

work=$(mktemp -d "${TMPDIR:-/tmp}/korvi-bench.XXXXXX")
server_pids=()
cleanup() {
    for pid in "${server_pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
    done
    for pid in "${server_pids[@]}"; do
        for _ in 1 2 3 4 5 6 7 8 9 10; do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.2
        done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Streams: a tiny picture so that the fetch, not the disk, is what is measured. One key frame
# per segment, so that ffmpeg's HLS muxer cuts where it is asked to.
make_stream() { # name seconds segment-seconds
    local dir=$streams/$1
    [ -s "$dir/.complete" ] && return 0
    rm -rf "$dir"
    mkdir -p "$dir"
    local gop
    gop=$(awk -v s="$3" 'BEGIN { printf "%d", s * 10 }')
    ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=128x72:rate=10:duration=$2" \
        -f lavfi -i "sine=frequency=440:sample_rate=22050:duration=$2" \
        -c:v libx264 -preset ultrafast -g "$gop" -keyint_min "$gop" -sc_threshold 0 \
        -pix_fmt yuv420p -c:a aac -b:a 32k -shortest "$dir/source.mp4"
    ffmpeg -nostdin -v error -y -i "$dir/source.mp4" -c copy -f hls -hls_time "$3" \
        -hls_list_size 0 -hls_playlist_type vod -hls_segment_filename "$dir/seg%d.ts" \
        "$dir/index.m3u8"
    sed -i 's/^#EXT-X-TARGETDURATION:0$/#EXT-X-TARGETDURATION:1/' "$dir/index.m3u8"
    ffmpeg -nostdin -v error -i "$dir/source.mp4" -map 0:v:0 -f framemd5 - |
        grep -v '^#' | awk -F, '{ print $NF }' >"$dir/frames.md5"
    echo done >"$dir/.complete"
}
echo "streams in $streams"
make_stream s600 300 0.5
make_stream s300 600 2
for s in s600 s300; do
    n=$(grep -c '^seg[0-9]*\.ts$' "$streams/$s/index.m3u8")
    echo "  $s: $n segments, $(wc -l <"$streams/$s/frames.md5") frames"
done

# One server per stream set-up, each bounded in time by itself too.
start_server() { # name latency-ms [more server options]
    local name=$1 latency=$2
    shift 2
    "$PY" "$repo/tests/server/hls_server.py" --root "$streams" --port 0 \
        --port-file "$work/$name.port" --latency-ms "$latency" --max-seconds 5400 "$@" &
    server_pids+=($!)
    for _ in $(seq 100); do
        [ -s "$work/$name.port" ] && return 0
        sleep 0.1
    done
    echo "download.sh: the test server for $name did not start" >&2
    exit 1
}
setups=(a b c d)
declare -A stream_of label_of
stream_of[a]=s600 label_of[a]="600 x 0.5 s, 50 ms"
stream_of[b]=s300 label_of[b]="300 x 2 s, 50 ms"
stream_of[c]=s300 label_of[c]="300 x 2 s, no latency"
stream_of[d]=s300 label_of[d]="300 x 2 s, 50 ms, 30% fail"
start_server a 50
start_server b 50
start_server c 0
start_server d 50 --fail-rate 0.3 --fail-mode 500 --seed 7 --fail-pattern '\.ts$'
url_of() { echo "http://127.0.0.1:$(cat "$work/$1.port")/${stream_of[$1]}/index.m3u8"; }

# Every tool gets a private home and temporary folder: nothing of the benchmark stays behind.
export HOME=$work/home TMPDIR=$work/tmp XDG_CACHE_HOME=$work/home/.cache
mkdir -p "$HOME" "$TMPDIR"
for v in http_proxy https_proxy all_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY; do unset "$v"; done
export no_proxy='*'

# "ok", or what is wrong with the frames of the output.
check_frames() { # file setup
    local ref=$streams/${stream_of[$2]}/frames.md5 got=$work/got.md5
    if [ ! -s "$1" ]; then
        echo "no output"
        return
    fi
    ffmpeg -nostdin -v error -i "$1" -map 0:v:0 -f framemd5 - 2>/dev/null |
        grep -v '^#' | awk -F, '{ print $NF }' >"$got" || true
    if cmp -s "$ref" "$got"; then
        echo ok
    else
        echo "frames differ ($(wc -l <"$got") of $(wc -l <"$ref"))"
    fi
}

run_korvi() { # url out
    "$korvi_get" "$1" "$2.mp4" >/dev/null 2>"$work/err" || true
    out_file=$2.mp4
}
run_hand() {
    local dir=$work/hand
    rm -rf "$dir"
    mkdir -p "$dir"
    curl -sf "$1" -o "$dir/remote.m3u8" || true
    awk -v dir="${1%/*}/" -v list="$dir/list.txt" '
        /^#/ || /^[[:space:]]*$/ { print; next }
        { n++; name = n ".ts"; print dir $0 "\n out=" name > list; print name }
    ' "$dir/remote.m3u8" >"$dir/local.m3u8"
    aria2c -q -i "$dir/list.txt" -d "$dir" >/dev/null 2>&1 || true
    ffmpeg -nostdin -v quiet -y -allowed_extensions ALL -i "$dir/local.m3u8" -c copy "$2.mp4" \
        >/dev/null 2>&1 || true
    rm -rf "$dir"
    out_file=$2.mp4
}
run_ffmpeg() {
    ffmpeg -nostdin -v quiet -y -i "$1" -c copy "$2.mp4" >/dev/null 2>&1 || true
    out_file=$2.mp4
}
run_ytdlp() {
    (cd "$work/tmp" && yt-dlp -q --no-warnings --no-cache-dir --no-progress --ignore-config \
        --downloader aria2c -o "$2.%(ext)s" "$1" >/dev/null 2>&1) || true
    out_file=$(ls "$2".* 2>/dev/null | head -1 || true)
}
run_streamlink() {
    streamlink --quiet --hls-segment-threads 5 --force -o "$2.ts" "hls://$1" best \
        >/dev/null 2>&1 || true
    out_file=$2.ts
}

pipelines=(korvi hand ffmpeg ytdlp streamlink)
declare -A name_of
name_of[korvi]="korvi-get"
name_of[hand]="by hand (aria2c -i + ffmpeg)"
name_of[ffmpeg]="plain ffmpeg -i URL -c copy"
name_of[ytdlp]="yt-dlp --downloader aria2c"
name_of[streamlink]="streamlink, 5 segment threads"
enabled() {
    case $1 in
    korvi) [ $have_korvi = 1 ] ;;
    ytdlp) [ $have_ytdlp = 1 ] ;;
    streamlink) [ $have_streamlink = 1 ] ;;
    *) true ;;
    esac
}

now() { date +%s.%N; }
load_before=$(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || echo unknown)
started=$(now)
echo "rounds: $runs (plain ffmpeg on the 50 ms streams: $slow_runs)"
[ -n "$skip_note" ] && echo "skipped:$skip_note"

# Interleaved: each round runs every set-up with every pipeline, the pipelines' order turned
# by one each round, so a change in the machine's load falls on all of them alike.
for round in $(seq "$runs"); do
    order=("${pipelines[@]:$(((round - 1) % 5))}" "${pipelines[@]:0:$(((round - 1) % 5))}")
    for s in "${setups[@]}"; do
        url=$(url_of "$s")
        line="round $round ${stream_of[$s]}/$s:"
        for p in "${order[@]}"; do
            enabled "$p" || continue
            if [ "$p" = ffmpeg ] && [ "$s" != c ] && [ "$round" -gt "$slow_runs" ]; then
                continue
            fi
            base=$work/out-$p-$s
            rm -f "$base".*
            t0=$(now)
            "run_$p" "$url" "$base"
            t1=$(now)
            t=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
            verdict=$(check_frames "$out_file" "$s")
            rm -f "$base".*
            echo "$t $verdict" >>"$work/times-$p-$s"
            line="$line $p ${t}s${verdict:+ $verdict}"
        done
        echo "$line" | sed 's/ ok//g'
    done
done
elapsed=$(awk -v a="$started" -v b="$(now)" 'BEGIN { printf "%.0f", b - a }')

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print ""; else if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# The median of the complete runs, with the count of incomplete ones.
cell() { # pipeline setup
    local f=$work/times-$1-$2
    [ -s "$f" ] || { echo "-"; return; }
    local all good bad med
    all=$(wc -l <"$f")
    good=$(grep -c ' ok$' "$f" || true)
    bad=$((all - good))
    med=$(grep ' ok$' "$f" | cut -d' ' -f1 | median)
    if [ "$good" = 0 ]; then
        echo "incomplete in $all of $all"
    elif [ "$bad" = 0 ]; then
        echo "$med ($all)"
    else
        echo "$med ($good), incomplete in $bad"
    fi
}
med() { # pipeline setup -> median of complete runs or empty
    local f=$work/times-$1-$2
    [ -s "$f" ] || return 0
    grep ' ok$' "$f" | cut -d' ' -f1 | median
}
ratio() { [ -n "$1" ] && [ -n "$2" ] && awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }' || echo "-"; }
verdict() { # value op target
    [ "$1" = "-" ] && { echo "not measured"; return; }
    awk -v r="$1" -v t="$3" -v op="$2" 'BEGIN { ok = op == "<=" ? r <= t : r < t; print (ok ? "met" : "missed") }'
}

{
    echo "Measured $(date -u '+%Y-%m-%d %H:%M UTC') on a machine with nproc $(nproc), other"
    echo "builds running; load average when the runs began: $load_before; the whole run took ${elapsed} s."
    echo "Seconds, median of the runs whose frames matched the source (their count in brackets);"
    echo "$runs rounds, plain ffmpeg on the 50 ms streams in $slow_runs of them."
    [ -n "$skip_note" ] && echo "Skipped:$skip_note"
    echo
    printf '| pipeline |'
    for s in "${setups[@]}"; do printf ' %s |' "${label_of[$s]}"; done
    echo
    printf '|---|'
    for s in "${setups[@]}"; do printf -- '---|'; done
    echo
    for p in "${pipelines[@]}"; do
        printf '| %s |' "${name_of[$p]}"
        for s in "${setups[@]}"; do printf ' %s |' "$(cell "$p" "$s")"; done
        echo
    done
    echo
    echo "| ratio | value | target | |"
    echo "|---|---|---|---|"
    for s in a b; do
        r=$(ratio "$(med korvi $s)" "$(med hand $s)")
        echo "| korvi-get / by hand, ${label_of[$s]} | $r | at most 0.55 | $(verdict "$r" "<=" 0.55) |"
        for p in ytdlp streamlink; do
            r=$(ratio "$(med korvi $s)" "$(med $p $s)")
            echo "| korvi-get / ${name_of[$p]}, ${label_of[$s]} | $r | below 1 | $(verdict "$r" "<" 1) |"
        done
    done
    r=$(ratio "$(med korvi c)" "$(med ffmpeg c)")
    echo "| korvi-get / plain ffmpeg, ${label_of[c]} | $r | at most 2 | $(verdict "$r" "<=" 2) |"
    r=$(ratio "$(med korvi d)" "$(med korvi b)")
    echo "| korvi-get 30% fail / korvi-get clean (300 x 2 s, 50 ms) | $r | at most 2, every segment | $(verdict "$r" "<=" 2) |"
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
