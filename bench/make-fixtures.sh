#!/bin/sh
# Regenerates the screen-like fixtures (1920 x 1080 PNGs) with ImageMagick:
# an editor window with code, a dialog over a desktop, and a spreadsheet grid.
set -eu
cd "$(dirname "$0")/fixtures"
font=DejaVu-Sans-Mono
code() {
  i=0
  while [ $i -lt 60 ]; do
    printf 'static int step%02d(struct frame *f, int x) { return f->rows[%d] + x * %d; }\n' $i $((i * 3)) $((i % 7))
    i=$((i + 1))
  done
}
convert -size 1920x1080 xc:'#1e1e1e' \
  -fill '#3c3c3c' -draw 'rectangle 0,0 1920,34' \
  -fill '#252526' -draw 'rectangle 0,35 260,1080' \
  -fill '#cccccc' -font DejaVu-Sans -pointsize 15 -annotate +12+23 'editor.cpp - Skelby - Editor' \
  -fill '#9cdcfe' -font $font -pointsize 16 -annotate +280+60 "$(code)" \
  -fill '#c8c8c8' -pointsize 14 -annotate +16+70 'src\napp\ncapture\nmovie\nplatform\nquicktime\nresources\ntests' \
  editor.png
convert -size 1920x1080 gradient:'#2d5f8b'-'#6fa3cf' \
  -fill '#f0f0f0' -stroke '#707070' -draw 'rectangle 560,300 1360,780' \
  -fill '#0a64ad' -stroke none -draw 'rectangle 561,301 1359,332' \
  -fill white -font DejaVu-Sans -pointsize 15 -annotate +572+322 'Export Settings' \
  -fill black -annotate +590+380 'Codec  :' -annotate +590+450 'Quality  :' -annotate +590+520 'Frame duration ( ms )  :' \
  -fill white -stroke '#7a7a7a' -draw 'rectangle 590,392 900,418' -draw 'rectangle 590,462 900,488' -draw 'rectangle 590,532 680,558' \
  -fill '#e1e1e1' -draw 'roundrectangle 1130,720 1230,752 3,3' -draw 'roundrectangle 1245,720 1345,752 3,3' \
  -fill black -stroke none -annotate +600+411 'Animation' -annotate +600+481 'Lossless' -annotate +600+551 '100' \
  -annotate +1163+742 'Cancel' -annotate +1285+742 'Ok' \
  dialog.png
convert -size 1920x1080 xc:white \
  -fill '#f3f3f3' -draw 'rectangle 0,0 1920,60' -fill '#217346' -draw 'rectangle 0,0 1920,28' \
  -stroke '#d4d4d4' -draw "$(i=0; while [ $i -le 1920 ]; do printf 'line %d,60 %d,1080 ' $i $i; i=$((i + 96)); done)" \
  -draw "$(i=60; while [ $i -le 1080 ]; do printf 'line 0,%d 1920,%d ' $i $i; i=$((i + 24)); done)" \
  -stroke none -fill black -font DejaVu-Sans -pointsize 13 \
  -annotate +8+78 "$(i=0; while [ $i -lt 40 ]; do printf '%d\t%d.%02d\tItem %d\t%d\n' $i $((i * 37 % 1000)) $((i * 13 % 100)) $i $((i * i)); i=$((i + 1)); done)" \
  sheet.png
for f in editor dialog sheet; do convert $f.png -alpha off -depth 8 -define png:color-type=2 PNG24:$f.png; done
