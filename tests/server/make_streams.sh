#!/bin/bash
# Makes the HLS test streams with ffmpeg's own test sources.
#   make_streams.sh OUTDIR          source.mp4, clear/, aes/, keys/, master.m3u8, v1/, v2/, mixed/,
#                                   fmp4/, fmp4aes/, alt/, subs/, disguised-*/,
#                                   livesrc/
#   make_streams.sh OUTDIR --big    big/: a 300-segment stream for the download benchmark
# OUTDIR is created; files already there are overwritten. Writes OUTDIR/.complete last.
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ] || { [ $# -eq 2 ] && [ "$2" != "--big" ]; }; then
    echo "usage: $0 OUTDIR [--big]" >&2
    exit 2
fi
out=$1
big=${2:-}
FFMPEG=${FFMPEG:-ffmpeg}
mkdir -p "$out"
cd "$out"

ff() { "$FFMPEG" -nostdin -hide_banner -loglevel error -y "$@"; }

# Every picture and sound is synthetic; no B-frames and a key frame every segment, so that
# segments cut with -c copy decode to exactly the frames of the source.
encode() { # out seconds size fps gop [picture source]
    ff -f lavfi -i "${6:-testsrc2}=size=$3:rate=$4:duration=$2" \
        -f lavfi -i "sine=frequency=440:beep_factor=4:sample_rate=44100:duration=$2" \
        -c:v libx264 -preset veryfast -profile:v baseline -pix_fmt yuv420p \
        -g "$5" -keyint_min "$5" -sc_threshold 0 -bf 0 \
        -c:a aac -b:a 64k -ac 1 -shortest -movflags +faststart "$1"
}

segment() { # input dir seconds [extra hls options...]
    local in=$1 dir=$2 t=$3
    shift 3
    mkdir -p "$dir"
    ff -i "$in" -c copy -f hls -hls_time "$t" -hls_list_size 0 -hls_playlist_type vod \
        -hls_segment_filename "$dir/seg%d.ts" "$@" "$dir/index.m3u8"
}

if [ "$big" = "--big" ]; then
    rm -rf big
    encode big-source.mp4 150 128x72 10 5
    segment big-source.mp4 big 0.5
    # ffmpeg rounds the target duration of half-second segments down to 0; players want >= 1.
    sed -i 's/^#EXT-X-TARGETDURATION:0$/#EXT-X-TARGETDURATION:1/' big/index.m3u8
    rm -f big-source.mp4
    n=$(grep -c '^seg[0-9]*\.ts$' big/index.m3u8)
    if [ "$n" -ne 300 ]; then
        echo "make_streams: big/ has $n segments, expected 300" >&2
        exit 1
    fi
    echo big >.complete
    exit 0
fi

rm -rf clear live aes aes2 rotate keys v1 v2 mixed fmp4 fmp4aes alt second second.mp4 joined second-fmp4 joined-fmp4 ranges v3 master3.m3u8 master.m3u8 .complete \
    second-ahead second-back joined-ahead joined-back long-aes long-source.mp4 subs \
    disguised-png disguised-jpg disguised-aes disguised-aes-inside livesrc
encode source.mp4 6 320x180 25 25

segment source.mp4 clear 1
# A live playlist's snapshot: the same segments, no end-list tag and no playlist type.
mkdir -p live
grep -v -e '^#EXT-X-ENDLIST' -e '^#EXT-X-PLAYLIST-TYPE' clear/index.m3u8 |
    sed 's#^seg#../clear/seg#' >live/index.m3u8

mkdir -p keys
printf '\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f' >keys/aes.key
# Key info: the URI written into the playlist, then the key file ffmpeg encrypts with.
printf '/keys/aes.key\n%s\n' "$PWD/keys/aes.key" >aes.keyinfo
segment source.mp4 aes 1 -hls_key_info_file aes.keyinfo
# The same cut with a second key and IV, for a stream whose key changes part-way.
printf '\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f' >keys/aes2.key
printf 'aes2.key\n%s\n0f0e0d0c0b0a09080706050403020100\n' "$PWD/keys/aes2.key" >aes.keyinfo
segment source.mp4 aes2 1 -hls_key_info_file aes.keyinfo
rm -f aes.keyinfo
mkdir -p rotate
# Segments 0-2 under the first key, 3-5 under the second (relative to rotate/).
awk '
    FNR == 1 { file++ }
    file == 1 && /^#EXT-X-ENDLIST/ { next }
    file == 1 && /^seg[0-9]/ { n = substr($0, 4) + 0; if (n > 2) { skip = 1; next } }
    file == 1 && /^#EXTINF/ { getline nxt; if (substr(nxt, 4) + 0 > 2) next; print; print "../aes/" nxt; next }
    file == 1 { print; next }
    file == 2 && /^#EXT-X-KEY/ { sub(/URI="aes2.key"/, "URI=\"../keys/aes2.key\""); print; next }
    file == 2 && /^#EXTINF/ { getline nxt; if (substr(nxt, 4) + 0 < 3) next; print; print "../aes2/" nxt; next }
    file == 2 && /^#EXT-X-ENDLIST/ { print }
' aes/index.m3u8 aes2/index.m3u8 >rotate/index.m3u8

# First variant is the smaller one, so "first listed" and "best" lead to different files.
ff -i source.mp4 -vf scale=160:90 -c:v libx264 -preset veryfast -profile:v baseline \
    -pix_fmt yuv420p -g 25 -keyint_min 25 -sc_threshold 0 -bf 0 -c:a copy v1-source.mp4
segment v1-source.mp4 v1 1
rm -f v1-source.mp4
segment source.mp4 v2 1
# A middle size for a master of three bandwidths, listed neither first nor last by rate.
ff -i source.mp4 -vf scale=240:136 -c:v libx264 -preset veryfast -profile:v baseline \
    -pix_fmt yuv420p -g 25 -keyint_min 25 -sc_threshold 0 -bf 0 -c:a copy v3-source.mp4
segment v3-source.mp4 v3 1
rm -f v3-source.mp4
cat >master3.m3u8 <<'M3U8'
#EXTM3U
#EXT-X-VERSION:3
#EXT-X-STREAM-INF:AVERAGE-BANDWIDTH=5000000,BANDWIDTH=600000,RESOLUTION=240x136
v3/index.m3u8
#EXT-X-STREAM-INF:BANDWIDTH=900000,RESOLUTION=320x180
v2/index.m3u8
#EXT-X-STREAM-INF:BANDWIDTH=300000,RESOLUTION=160x90
v1/index.m3u8
M3U8
cat >master.m3u8 <<'M3U8'
#EXTM3U
#EXT-X-VERSION:3
#EXT-X-STREAM-INF:BANDWIDTH=300000,RESOLUTION=160x90
v1/index.m3u8
#EXT-X-STREAM-INF:BANDWIDTH=900000,RESOLUTION=320x180
v2/index.m3u8
M3U8

# Same segments as clear/, reached through every kind of URI line a playlist can hold.
mkdir -p mixed
cp clear/seg*.ts mixed/
awk '
    /^#/ || /^$/ { print; next }
    { n++ }
    n == 2 { print "/mixed/seg1.ts"; next }
    n == 3 { print "@BASE@/mixed/seg2.ts"; next }
    n == 4 { print "seg3.ts?token=abc&x=1"; next }
    { print }
' clear/index.m3u8 >mixed/index.m3u8

# Fragmented MP4: an initialisation section (init.mp4) and .m4s segments.
mkdir -p fmp4
ff -i source.mp4 -c copy -f hls -hls_time 1 -hls_list_size 0 -hls_playlist_type vod \
    -hls_segment_type fmp4 -hls_fmp4_init_filename init.mp4 \
    -hls_segment_filename fmp4/seg%d.m4s fmp4/index.m3u8
# The same under AES-128 (ffmpeg does not encrypt fMP4 itself): whole segments encrypted with
# keys/aes.key, the init section left clear, as the key line follows the map line.
mkdir -p fmp4aes
cp fmp4/init.mp4 fmp4aes/
iv=0f0e0d0c0b0a09080706050403020100
for f in fmp4/seg*.m4s; do
    openssl aes-128-cbc -K 000102030405060708090a0b0c0d0e0f -iv "$iv" -in "$f" \
        -out "fmp4aes/${f#fmp4/}"
done
awk -v iv="$iv" '{ print } /^#EXT-X-MAP/ { print "#EXT-X-KEY:METHOD=AES-128,URI=\"/keys/aes.key\",IV=0x" iv }' \
    fmp4/index.m3u8 >fmp4aes/index.m3u8

# Two encodes joined: clear/'s six segments, a discontinuity, then four of another picture,
# whose timestamps start again from the beginning (joined/), start 6 s after the first part
# ended (joined-ahead/), or start 3 s before it ended (joined-back/).
encode second.mp4 4 320x180 25 25 testsrc
segment second.mp4 second 1
segment second.mp4 second-ahead 1 -output_ts_offset 12
segment second.mp4 second-back 1 -output_ts_offset 3
join() { # dir second-dir
    mkdir -p "$1"
    {
        grep -v '^#EXT-X-ENDLIST' clear/index.m3u8 | sed 's#^seg#../clear/seg#'
        echo '#EXT-X-DISCONTINUITY'
        grep -e '^#EXTINF' -e '^seg' -e '^#EXT-X-ENDLIST' "$2/index.m3u8" | sed "s#^seg#../$2/seg#"
    } >"$1/index.m3u8"
}
join joined second
join joined-ahead second-ahead
join joined-back second-back
# The same join in fMP4: each part with its own init section.
mkdir -p second-fmp4 joined-fmp4
ff -i second.mp4 -c copy -f hls -hls_time 1 -hls_list_size 0 -hls_playlist_type vod \
    -hls_segment_type fmp4 -hls_fmp4_init_filename init.mp4 \
    -hls_segment_filename second-fmp4/seg%d.m4s second-fmp4/index.m3u8
{
    grep -v '^#EXT-X-ENDLIST' fmp4/index.m3u8 | sed -e 's#^seg#../fmp4/seg#' -e 's#URI="#URI="../fmp4/#'
    echo '#EXT-X-DISCONTINUITY'
    grep -e '^#EXT-X-MAP' -e '^#EXTINF' -e '^seg' -e '^#EXT-X-ENDLIST' second-fmp4/index.m3u8 |
        sed -e 's#^seg#../second-fmp4/seg#' -e 's#URI="#URI="../second-fmp4/#'
} >joined-fmp4/index.m3u8
for d in joined joined-ahead joined-back joined-fmp4; do
    n=$(grep -c -v '^#' "$d/index.m3u8")
    if [ "$n" -ne 10 ]; then
        echo "make_streams: $d/ has $n segments, expected 10" >&2
        exit 1
    fi
done

# Byte ranges: every segment is a range of one file, ranges/index.ts.
mkdir -p ranges
ff -i source.mp4 -c copy -f hls -hls_time 1 -hls_list_size 0 -hls_playlist_type vod \
    -hls_flags single_file ranges/index.m3u8

# A master whose variant has no audio of its own: the audio is a rendition of its AUDIO group,
# in a media playlist of its own (alt/video.m3u8 + videoN.ts, alt/audio.m3u8 + audioN.ts).
mkdir -p alt
ff -i source.mp4 -map 0:v -map 0:a -c copy -f hls -hls_time 1 -hls_list_size 0 \
    -hls_playlist_type vod -var_stream_map "v:0,agroup:aud,name:video a:0,agroup:aud,default:yes,name:audio" \
    -master_pl_name master.m3u8 -hls_segment_filename 'alt/%v%d.ts' 'alt/%v.m3u8'
if ! grep -q '^#EXT-X-MEDIA:TYPE=AUDIO,.*URI="audio.m3u8"' alt/master.m3u8 ||
    ! grep -q '^#EXT-X-STREAM-INF:.*AUDIO="' alt/master.m3u8; then
    echo "make_streams: alt/master.m3u8 names no separate audio rendition" >&2
    exit 1
fi
if [ "$(grep -c '^video[0-9]*\.ts$' alt/video.m3u8)" -ne 6 ] ||
    [ "$(grep -c '^audio[0-9]*\.ts$' alt/audio.m3u8)" -lt 6 ]; then
    echo "make_streams: alt/ has too few segments" >&2
    exit 1
fi

# A long AES-128 stream whose key line has no IV attribute, so each segment's IV is its media
# sequence number: ffmpeg encrypts that way when it rereads the key info for every segment,
# and the per-segment key lines it writes are folded into one without IV. One picture of
# 128x72 a segment. About one segment in 256 starts with 0x47 by chance; the key is chosen
# among a few so that at least three do: ciphertext that a TS check would misjudge.
encode long-source.mp4 125 128x72 5 1
for try in $(seq 1 40); do
    hex=$(printf 'korvi-long-aes-%d' "$try" | md5sum | cut -c1-32)
    printf "$(printf '%s' "$hex" | sed 's/../\\x&/g')" >keys/long.key
    printf 'long.key\n%s\n' "$PWD/keys/long.key" >long.keyinfo
    rm -rf long-aes
    segment long-source.mp4 long-aes 0.2 -hls_key_info_file long.keyinfo -hls_flags periodic_rekey
    starts47=$(head -q -c 1 long-aes/seg*.ts | od -An -v -tx1 | tr -s ' ' '\n' | grep -c '^47$' || true)
    [ "$starts47" -ge 3 ] && break
done
rm -f long.keyinfo
cp keys/long.key long-aes/long.key
awk '/^#EXT-X-KEY/ { if (keyed++) next; sub(/,IV=0x[0-9a-fA-F]*/, "") } { print }' \
    long-aes/index.m3u8 >long-aes/index.tmp
mv long-aes/index.tmp long-aes/index.m3u8
sed -i 's/^#EXT-X-TARGETDURATION:0$/#EXT-X-TARGETDURATION:1/' long-aes/index.m3u8
n=$(grep -c -v '^#' long-aes/index.m3u8)
# The first block of segment 7 decrypts, with IV 7, to the start of a TS packet. Nothing in
# the pipe stops reading early: openssl would fail on a closed pipe.
first=$(head -c 16 long-aes/seg7.ts |
    openssl aes-128-cbc -d -nopad -K "$hex" -iv "$(printf '%032x' 7)" | od -An -tx1 |
    awk 'NR == 1 { print $1 }')
if [ "$n" -lt 600 ] || [ "$starts47" -lt 3 ] || [ "$(grep -c '^#EXT-X-KEY' long-aes/index.m3u8)" -ne 1 ] ||
    grep -q 'IV=' long-aes/index.m3u8 || [ "$first" != 47 ]; then
    echo "make_streams: long-aes/ has $n segments, $starts47 starting with 0x47" >&2
    exit 1
fi

for d in clear live aes aes2 rotate v1 v2 v3 mixed fmp4 fmp4aes ranges; do
    n=$(grep -c -v '^#' "$d/index.m3u8")
    if [ "$n" -ne 6 ]; then
        echo "make_streams: $d/ has $n segments, expected 6" >&2
        exit 1
    fi
done
# Subtitles: one variant (clear/'s segments) whose SUBTITLES group has two WebVTT renditions,
# English (en/) and Chinese (zh/), six 1 s segments each with cues at known times of the video.
# en/ maps each segment's own clock (ten minutes ahead) to the video's MPEG-TS clock, anchored
# a second after the segment's start, so that only the video's own start time places its cues
# right; a cue across the seg2/seg3 boundary is in both. zh/ has one map for all and a
# byte-order mark.
# broken.m3u8 is the same master whose Chinese segment 2 is a TS file (bad/).
mkdir -p subs/en subs/zh subs/bad
start=$("${FFPROBE:-ffprobe}" -v error -show_entries stream=start_pts -of csv=p=0 clear/seg0.ts |
    grep -E '^[0-9]+$' | sort -n | head -1)
for lang in en zh bad; do
    printf '#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:1\n#EXT-X-PLAYLIST-TYPE:VOD\n' \
        >"subs/$lang/index.m3u8"
done
for i in 0 1 2 3 4 5; do
    {
        printf 'WEBVTT\nX-TIMESTAMP-MAP=MPEGTS:%d,LOCAL:00:10:0%d.000\n\n' $((start + (i + 1) * 90000)) $((i + 1))
        printf 'e%d\n00:10:0%d.500 --> 00:10:0%d.900 align:start\nEnglish %d\n\n' "$i" "$i" "$i" "$i"
        if [ "$i" = 2 ] || [ "$i" = 3 ]; then
            printf 'NOTE repeated in both segments\n\n00:10:02.950 --> 00:10:03.400\nAcross\n\n'
        fi
    } >"subs/en/seg$i.vtt"
    printf '\xef\xbb\xbfWEBVTT\r\nX-TIMESTAMP-MAP=LOCAL:00:00:00.000,MPEGTS:%d\r\n\r\n00:00:0%d.200 --> 00:00:0%d.400\r\n中文 %d\r\n' \
        "$start" "$i" "$i" "$i" >"subs/zh/seg$i.vtt"
    printf '#EXTINF:1.0,\nseg%d.vtt\n' "$i" >>subs/en/index.m3u8
    printf '#EXTINF:1.0,\nseg%d.vtt\n' "$i" >>subs/zh/index.m3u8
    if [ "$i" = 2 ]; then bad=../../clear/seg2.ts; else bad=../zh/seg$i.vtt; fi
    printf '#EXTINF:1.0,\n%s\n' "$bad" >>subs/bad/index.m3u8
done
for lang in en zh bad; do echo '#EXT-X-ENDLIST' >>"subs/$lang/index.m3u8"; done
master() { # zh-playlist [video-playlist]
    printf '#EXTM3U\n#EXT-X-VERSION:3\n'
    printf '#EXT-X-MEDIA:TYPE=SUBTITLES,GROUP-ID="subs",NAME="English",LANGUAGE="en",DEFAULT=YES,URI="en/index.m3u8"\n'
    printf '#EXT-X-MEDIA:TYPE=SUBTITLES,GROUP-ID="subs",NAME="中文",LANGUAGE="zh",URI="%s"\n' "$1"
    printf '#EXT-X-STREAM-INF:BANDWIDTH=300000,RESOLUTION=320x180,SUBTITLES="subs"\n%s\n' "${2:-../clear/index.m3u8}"
}
master zh/index.m3u8 >subs/master.m3u8
master bad/index.m3u8 >subs/broken.m3u8
master zh/index.m3u8 ../live/index.m3u8 >subs/live.m3u8


# Segments behind an image, as image hosts serve them: clear/'s segments each after a PNG
# (disguised-png/) or a JPEG (disguised-jpg/), aes/'s ciphertext after a PNG (disguised-aes/),
# and a PNG inside the plaintext, clear/'s segments behind it encrypted under keys/aes.key
# with an explicit IV (disguised-aes-inside/). Every segment is named segN.png.
mkdir -p disguised-png disguised-jpg disguised-aes disguised-aes-inside
ff -f lavfi -i color=c=orange:size=64x36 -frames:v 1 disguised-png/cover.png
# A picture of some detail: behind a flat one ffmpeg finds the TS packets itself.
ff -f lavfi -i testsrc2=size=320x180 -frames:v 1 disguised-jpg/cover.jpg
iv=00112233445566778899aabbccddeeff
for f in clear/seg*.ts; do
    n=$(basename "$f" .ts)
    cat disguised-png/cover.png "$f" >"disguised-png/$n.png"
    cat disguised-jpg/cover.jpg "$f" >"disguised-jpg/$n.png"
    cat disguised-png/cover.png "aes/$n.ts" >"disguised-aes/$n.png"
    cat disguised-png/cover.png "$f" |
        openssl aes-128-cbc -K 000102030405060708090a0b0c0d0e0f -iv "$iv" \
            -out "disguised-aes-inside/$n.png"
done
sed 's/^\(seg[0-9]*\)\.ts$/\1.png/' clear/index.m3u8 >disguised-png/index.m3u8
cp disguised-png/index.m3u8 disguised-jpg/index.m3u8
sed 's/^\(seg[0-9]*\)\.ts$/\1.png/' aes/index.m3u8 >disguised-aes/index.m3u8
awk -v iv="$iv" '/^#EXTINF/ && !keyed++ { print "#EXT-X-KEY:METHOD=AES-128,URI=\"/keys/aes.key\",IV=0x" iv }
    { print }' disguised-png/index.m3u8 >disguised-aes-inside/index.m3u8
for d in disguised-png disguised-jpg disguised-aes disguised-aes-inside; do
    if [ "$(grep -c '^seg[0-9]*\.png$' "$d/index.m3u8")" -ne 6 ] || [ -e "$d/seg6.png" ] ||
        ! grep -q '^#EXT-X-ENDLIST' "$d/index.m3u8"; then
        echo "make_streams: $d/ does not hold 6 disguised segments" >&2
        exit 1
    fi
done
if ! grep -q '^#EXT-X-KEY:METHOD=AES-128,URI="/keys/aes.key"' disguised-aes/index.m3u8; then
    echo "make_streams: disguised-aes/ has no key line" >&2
    exit 1
fi

# The source the test server grows a live playlist from (--live): 20 one-second segments.
encode livesrc.mp4 20 128x72 10 10
segment livesrc.mp4 livesrc 1
rm -f livesrc.mp4
if [ "$(grep -c '^seg[0-9]*\.ts$' livesrc/index.m3u8)" -ne 20 ]; then
    echo "make_streams: livesrc/ has too few segments" >&2
    exit 1
fi
echo streams >.complete
