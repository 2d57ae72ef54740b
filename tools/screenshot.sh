#!/usr/bin/env bash
# Remakes docs/screenshot-m3u8.png: Korvi's M3U8 page with a few queued tasks, under Xvfb.
# Usage: tools/screenshot.sh [BUILD_DIR]   (needs xvfb-run and ImageMagick's import)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A program folder of its own, so the settings and the task list beside it are the sample's.
cp "$build/korvi" "$work/korvi"
printf '[Options]\r\nPageIndex=2\r\nVersion=1.0.0\r\n[History]\r\nM3u8Url=https://example.com/course/lesson-04/index.m3u8\r\nM3u8Out=/home/user/视频/第四课.mp4\r\n' \
    >"$work/korvi.ini"
{
    printf '/home/user/视频/第一课.mp4|https://example.com/course/lesson-01/index.m3u8|\r\n'
    printf '/home/user/视频/第二课.mp4|https://example.com/course/lesson-02/index.m3u8|\r\n'
    printf '/home/user/视频/第三课.mp4|/home/user/下载/lesson-03.m3u8|\r\n'
} >"$work/Tasks.dat"
mkdir -p "$work/run" && chmod 700 "$work/run"

mkdir -p "$top/docs"
HOME="$work" XDG_RUNTIME_DIR="$work/run" xvfb-run -a -s "-screen 0 1280x900x24" bash -c '
    "$1/korvi" & pid=$!
    sleep 4
    import -window root "$1/shot.png"
    kill -TERM $pid; sleep 1; kill -KILL $pid 2>/dev/null || true
' _ "$work"
# No window manager: the window sits at the top left on a black screen, which -trim cuts away.
convert "$work/shot.png" -trim +repage -strip "$top/docs/screenshot-m3u8.png"
echo "docs/screenshot-m3u8.png"
