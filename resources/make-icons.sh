#!/bin/sh
# Draws the program's pictures with ImageMagick. Run from anywhere; the PNGs land in icons/
# beside this script and are committed, so a build needs no ImageMagick.
set -eu
cd "$(dirname "$0")/icons"

# No time stamps in the files, so drawing them again changes nothing.
convert() {
    command convert "$@"
    out=$(eval echo "\${$#}")
    command mogrify -strip -define png:exclude-chunk=date,time "$out"
}

# Tab icons, 32 x 32, transparent background.
convert -size 32x32 xc:none \
    -fill '#2f6fb5' -draw 'roundrectangle 1,4 30,27 4,4' \
    -fill white -draw 'polygon 7,10 14,15 7,20' \
    -draw 'rectangle 16,19 24,21' \
    tab-ffmpeg.png

convert -size 32x32 xc:none \
    -fill '#8aa8c8' -stroke '#35506d' -draw 'rectangle 9,3 28,22' \
    -fill '#b3cbe3' -draw 'rectangle 6,6 25,25' \
    -fill '#e4eef8' -draw 'rectangle 3,9 22,28' \
    -stroke '#35506d' -draw 'line 6,15 19,15' -draw 'line 6,19 19,19' -draw 'line 6,23 15,23' \
    tab-batch.png

convert -size 32x32 xc:none \
    -fill '#2e9d4f' -draw 'circle 16,16 16,1' \
    -fill white -draw 'rectangle 13,6 19,16' \
    -draw 'polygon 8,15 24,15 16,25' \
    -draw 'rectangle 8,26 24,27' \
    tab-m3u8.png

convert -size 32x32 xc:none \
    -stroke '#5b5b5b' -strokewidth 5 \
    -draw 'line 16,2 16,30' -draw 'line 2,16 30,16' \
    -draw 'line 6,6 26,26' -draw 'line 26,6 6,26' \
    -stroke none -fill '#7a7a7a' -draw 'circle 16,16 16,5' \
    -fill white -draw 'circle 16,16 16,11' \
    tab-settings.png

# The picture beside the donation note: a cup with a heart, 128 x 128.
convert -size 128x128 xc:white \
    -fill '#f3e1c7' -stroke '#8a5a2b' -strokewidth 3 \
    -draw 'roundrectangle 24,44 92,108 10,10' \
    -fill none -draw 'arc 82,56 112,90 -90,90' \
    -stroke none -fill '#d8343f' \
    -draw 'circle 50,70 50,60' -draw 'circle 66,70 66,60' \
    -draw 'polygon 41,75 75,75 58,95' \
    -stroke '#b0b0b0' -strokewidth 3 -fill none \
    -draw 'bezier 44,38 38,28 50,22 44,12' -draw 'bezier 70,38 64,28 76,22 70,12' \
    donate.png

# Button pictures, 32 x 32: start and stop of the downloads, and the batch transcode.
convert -size 32x32 xc:none \
    -fill '#2e9d4f' -draw 'polygon 8,4 27,16 8,28' \
    STARTDL.png

convert -size 32x32 xc:none \
    -fill '#c8323c' -draw 'roundrectangle 6,6 25,25 3,3' \
    STOPDL.png

convert -size 32x32 xc:none \
    -fill '#2f6fb5' -draw 'rectangle 2,7 19,24' \
    -fill white -draw 'rectangle 4,9 6,11' -draw 'rectangle 4,14 6,16' -draw 'rectangle 4,19 6,21' \
    -draw 'rectangle 15,9 17,11' -draw 'rectangle 15,14 17,16' -draw 'rectangle 15,19 17,21' \
    -fill '#e08a1e' -draw 'polygon 20,10 30,16 20,22' \
    BATRECODE.png

# The task list's button column, 24 x 24: import a list file, import from the clipboard, clear,
# remove, move up, move down.
convert -size 24x24 xc:none \
    -fill '#e4eef8' -stroke '#35506d' -draw 'rectangle 3,2 17,21' \
    -draw 'line 6,7 14,7' -draw 'line 6,11 14,11' -draw 'line 6,15 11,15' \
    -stroke none -fill '#2e9d4f' -draw 'polygon 14,14 22,14 18,22' \
    LVWLIST.png

convert -size 24x24 xc:none \
    -fill '#c89b5a' -stroke '#6d4c1f' -draw 'roundrectangle 3,3 20,22 2,2' \
    -fill '#f6f6f6' -stroke '#6d4c1f' -draw 'rectangle 6,6 17,20' \
    -fill '#8a8a8a' -stroke none -draw 'rectangle 8,1 15,5' \
    LVWCLIPBRD.png

convert -size 24x24 xc:none \
    -fill '#d0d0d0' -stroke '#5b5b5b' -draw 'polygon 6,7 18,7 16,22 8,22' \
    -draw 'line 4,5 20,5' -draw 'rectangle 10,2 14,4' \
    LVWCLEAR.png

convert -size 24x24 xc:none \
    -stroke '#c8323c' -strokewidth 4 -draw 'line 5,5 19,19' -draw 'line 19,5 5,19' \
    LVWDEL.png

convert -size 24x24 xc:none \
    -fill '#2f6fb5' -draw 'polygon 12,3 21,13 15,13 15,21 9,21 9,13 3,13' \
    LVWUP.png

convert -size 24x24 xc:none \
    -fill '#2f6fb5' -draw 'polygon 12,21 21,11 15,11 15,3 9,3 9,11 3,11' \
    LVWDOWN.png
