#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the tree, validates the desktop entry and
# the metainfo, builds the .deb and reads it back, and runs the installed Korvi as a user who may
# not write its program folder: its settings and task list must land in ~/.config/Korvi.
# Usage: tst_install.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
korvi_pid=
cleanup() {
    if [[ -n "$korvi_pid" ]] && kill -0 "$korvi_pid" 2>/dev/null; then
        kill -KILL "$korvi_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
checks=0
ok() { checks=$((checks + 1)); echo "ok - $*"; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

for f in bin/korvi bin/korvi-get \
         share/applications/korvi.desktop \
         share/metainfo/com.example.Korvi.metainfo.xml \
         share/icons/hicolor/scalable/apps/korvi.svg \
         share/man/man1/korvi.1.gz share/man/man1/korvi-get.1.gz \
         share/doc/korvi/copyright share/doc/korvi/changelog.gz; do
    [[ -f "$prefix/$f" ]] || fail "not installed: $f"
done
for size in 16 22 24 32 48 64 128 256; do
    png=$prefix/share/icons/hicolor/${size}x${size}/apps/korvi.png
    [[ -f "$png" ]] || fail "no ${size}px icon"
    [[ $(identify -format '%wx%h' "$png") == "${size}x${size}" ]] || fail "${size}px icon has the wrong size"
done
ok "installed tree"

desktop-file-validate "$prefix/share/applications/korvi.desktop" >/dev/null 2>&1 || fail "desktop entry invalid"
grep -qx 'MimeType=application/vnd.apple.mpegurl;application/x-mpegurl;audio/x-mpegurl;' \
    "$prefix/share/applications/korvi.desktop" || fail "MIME types"
appstreamcli validate --no-net "$prefix/share/metainfo/com.example.Korvi.metainfo.xml" >/dev/null \
    || fail "metainfo invalid"
ok "desktop entry and metainfo validate"

version=$("$prefix/bin/korvi-get" --version)
[[ "$version" =~ ^korvi-get\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "--version printed: $version"
"$prefix/bin/korvi-get" --help | grep -q 'korvi-get' || fail "--help"
man -l "$prefix/share/man/man1/korvi-get.1.gz" 2>/dev/null | grep -q -- '--from-curl' || fail "manual page"
man -l "$prefix/share/man/man1/korvi.1.gz" 2>/dev/null | grep -q 'korvi-get' || fail "korvi manual page"
ok "korvi-get --version, --help and the manual pages"

# The package, made from the same build.
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null)
deb=$(ls "$work"/deb/korvi_*_*.deb)
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/korvi ./usr/bin/korvi-get ./usr/share/applications/korvi.desktop \
         ./usr/share/icons/hicolor/scalable/apps/korvi.svg \
         ./usr/share/metainfo/com.example.Korvi.metainfo.xml; do
    grep -q " $f\$" <<<"$contents" || fail "package lacks $f"
done
depends=$(dpkg-deb -f "$deb" Depends)
grep -q '\baria2\b' <<<"$depends" || fail "Depends lacks aria2: $depends"
grep -q '\bffmpeg\b' <<<"$depends" || fail "Depends lacks ffmpeg: $depends"
grep -q 'libqt6widgets6' <<<"$depends" || fail "Depends lacks the computed Qt libraries: $depends"
ok "package $(basename "$deb"), Depends: $depends"

# Debian's own checks: no error, no warning (lintian exits 0 on warnings, so its tags are read).
command -v lintian >/dev/null || fail "lintian is missing (tools/setup.sh --tests installs it)"
tags=$(lintian --no-cfg --fail-on none "$deb" 2>&1 | grep -E '^[EW]: ' || true)
[[ -z "$tags" ]] || fail "lintian: $tags"
ok "lintian: no errors, no warnings"

# Korvi from the installed tree, as a user who cannot write there.
user=nobody
home=$work/home
mkdir -p "$home/.config/Korvi" "$work/run"
chmod 755 "$work"
printf 'out.mp4|http://127.0.0.1:9/a.m3u8|\r\n' >"$home/.config/Korvi/Tasks.dat"
chown -R "$user" "$home" "$work/run"
chmod 700 "$work/run"
touch "$work/marker"
sleep 1
env -i PATH="$PATH" HOME="$home" XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=offscreen \
    setpriv --reuid="$user" --regid=nogroup --clear-groups "$prefix/bin/korvi" \
    >"$work/korvi.log" 2>&1 &
korvi_pid=$!
for _ in $(seq 100); do
    [[ -S "$work/run/Korvi" ]] && break
    kill -0 "$korvi_pid" 2>/dev/null || { cat "$work/korvi.log"; fail "korvi ended at start"; }
    sleep 0.1
done
[[ -S "$work/run/Korvi" ]] || fail "korvi did not start"
kill -TERM "$korvi_pid"
for _ in $(seq 100); do
    kill -0 "$korvi_pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$korvi_pid" 2>/dev/null && fail "korvi did not end on SIGTERM"
korvi_pid=

[[ -f "$home/.config/Korvi/korvi.ini" ]] || { cat "$work/korvi.log"; fail "no korvi.ini under ~/.config/Korvi"; }
grep -q 'http://127.0.0.1:9/a.m3u8' "$home/.config/Korvi/Tasks.dat" || fail "Tasks.dat lost its task"
stray=$(find "$prefix" "$home" \( -name korvi.ini -o -name Tasks.dat \) -not -path "$home/.config/Korvi/*")
[[ -z "$stray" ]] || fail "settings written elsewhere: $stray"
[[ -z "$(find "$prefix" -newer "$work/marker")" ]] || fail "korvi wrote into its program folder"
ok "installed korvi keeps korvi.ini and Tasks.dat in ~/.config/Korvi"

echo "$checks passed, 0 failed"
