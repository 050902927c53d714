#!/bin/bash
# check-h264.sh FILE WIDTH HEIGHT KEYS: ffmpeg's own H.264 decoder reads the
# Annex B stream QuickTimeOperationsTest wrote, without a single error, and
# finds frames of WIDTH x HEIGHT whose key frames are exactly KEYS (frame
# numbers, comma-separated; the count of frames is the last field of KEYS
# after a slash: "0,6/10").
set -uo pipefail
file=$1 width=$2 height=$3 keys=${4%/*} count=${4#*/}
[ -s "$file" ] || { echo "no stream in $file" >&2; exit 1; }
frames=$(ffprobe -v error -err_detect explode -select_streams v:0 -show_frames \
  -show_entries frame=key_frame,width,height -of csv=p=0 "$file") || { echo "ffprobe refused $file" >&2; exit 1; }
ffmpeg -v error -xerror -err_detect explode -i "$file" -f null - || { echo "ffmpeg could not decode $file" >&2; exit 1; }
got=$(awk -F, '{ print $2 "x" $3 }' <<<"$frames" | sort -u | tr '\n' ' ')
[ "$got" = "${width}x${height} " ] || { echo "frame sizes: $got, expected ${width}x${height}" >&2; exit 1; }
n=$(wc -l <<<"$frames")
[ "$n" -eq "$count" ] || { echo "$n frames decoded, expected $count" >&2; exit 1; }
gotKeys=$(awk -F, '$1 == 1 { printf "%s%d", sep, NR - 1; sep = "," }' <<<"$frames")
[ "$gotKeys" = "$keys" ] || { echo "key frames $gotKeys, expected $keys" >&2; exit 1; }
echo "$file: $n frames of ${width}x${height}, key frames $gotKeys"
