#!/bin/bash
# Checks the compiled-in artwork: every image's format, size and pixel type,
# the pieces the skin stretches, the plain areas of the main-window picture,
# the icons, the animation, and that the generator still writes the committed
# files byte for byte.
#   check_images.sh <source dir>
set -u
src=${1:?source dir}
res=$src/resources
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

command -v identify >/dev/null || { echo "identify not installed"; exit 77; }
/usr/bin/python3 -c 'import cairo, numpy, PIL' 2>/dev/null || { echo "python3-cairo/numpy/pil not installed"; exit 77; }

# file, format, width, height, pixel type (rgb, rgba, palette, jpeg, bmp24)
while read -r file fmt w h kind; do
  f=$res/images/$file
  [ -f "$f" ] || { fail "$file missing"; continue; }
  got=$(identify -format '%m %w %h' "$f" 2>&1)
  [ "$got" = "$fmt $w $h" ] || fail "$file: '$got', expected '$fmt $w $h'"
  case $kind in
    rgb|rgba|palette)
      ct=$(identify -format '%[png:IHDR.color-type-orig] %[png:IHDR.bit-depth-orig]' "$f")
      want=$(case $kind in rgb) echo 2;; rgba) echo 6;; palette) echo 3;; esac)
      [ "$ct" = "$want 8" ] || fail "$file: PNG colour type/bit depth '$ct', expected '$want 8'"
      # no time stamps or text that would change from run to run
      if grep -q -a -E 'tIME|tEXt|zTXt|iTXt' "$f"; then fail "$file: carries metadata chunks"; fi ;;
    bmp24)
      bpp=$(od -A n -t u2 -j 28 -N 2 "$f" | tr -d ' ')
      hdr=$(od -A n -t u4 -j 14 -N 4 "$f" | tr -d ' ')
      [ "$bpp" = 24 ] && [ "$hdr" = 40 ] || fail "$file: $bpp bits per pixel, header $hdr (expected 24, 40)" ;;
    jpeg)
      q=$(identify -format '%Q %[jpeg:sampling-factor]' "$f")
      [ "$q" = "100 1x1,1x1,1x1" ] || fail "$file: JPEG quality/sampling '$q'" ;;
  esac
done <<'LIST'
caption_minimize.png PNG 108 19 rgb
caption_close.png PNG 116 19 rgb
main_window.jpg JPEG 326 464 jpeg
window_frame.jpg JPEG 339 71 jpeg
buttons.bmp BMP3 352 56 bmp24
scroll_vertical.png PNG 64 80 palette
scroll_horizontal.png PNG 64 80 palette
web_buttons.jpg JPEG 165 250 jpeg
tabs.png PNG 24 24 palette
list_header.png PNG 12 20 palette
header_panel_title.png PNG 9 27 palette
check_boxes.png PNG 26 52 rgb
radio_boxes.png PNG 48 24 palette
flags.png PNG 48 16 rgba
connect_icons.png PNG 36 36 rgba
policy_icons.png PNG 60 16 rgba
tip_info.png PNG 14 14 palette
online_update.png PNG 36 36 rgba
speed_icons.png PNG 60 12 rgba
app_status.png PNG 32 16 rgba
LIST

# Largest difference (0-255) between a piece and its first column (h) or
# first row (v) repeated: pieces the skin stretches must not vary that way.
spread() {
  local f=$1 x=$2 y=$3 w=$4 h=$5 dir=$6 line
  if [ "$dir" = h ]; then line="-crop 1x$h+0+0 +repage -scale ${w}x$h!"; else line="-crop ${w}x1+0+0 +repage -scale ${w}x$h!"; fi
  # shellcheck disable=SC2086
  convert "$f" -alpha off -crop "${w}x$h+$x+$y" +repage \( +clone $line \) -compose difference -composite \
    -format '%[fx:round(255*maxima)]' info:
}
# file, x, y, w, h, direction, tolerance (the JPEG pieces are lossy)
while read -r file x y w h dir tol what; do
  for d in ${dir//+/ }; do
    s=$(spread "$res/images/$file" "$x" "$y" "$w" "$h" "$d")
    [ "$s" -le "$tol" ] || fail "$file $what: varies by $s along its stretch ($d)"
  done
done <<'LIST'
window_frame.jpg 300 0 30 47 h 2 top
window_frame.jpg 0 47 9 14 v 2 left
window_frame.jpg 325 47 14 14 v 2 right
window_frame.jpg 14 60 100 11 h 2 bottom
window_frame.jpg 14 50 5 5 h+v 2 background
tabs.png 3 0 3 24 h 0 middle-inactive
tabs.png 15 0 3 24 h 0 middle-active
list_header.png 4 0 4 20 h 0 middle
header_panel_title.png 3 0 3 27 h 0 middle
scroll_vertical.png 0 32 16 16 h+v 0 thumb-background-normal
scroll_vertical.png 16 32 16 16 h+v 0 thumb-background-hovered
scroll_vertical.png 32 32 16 16 h+v 0 thumb-background-down
scroll_vertical.png 0 64 16 16 h+v 0 track
scroll_horizontal.png 0 32 16 16 h+v 0 thumb-background-normal
scroll_horizontal.png 16 32 16 16 h+v 0 thumb-background-hovered
scroll_horizontal.png 32 32 16 16 h+v 0 thumb-background-down
scroll_horizontal.png 0 64 16 16 h+v 0 track
LIST

# The dialog ground behind the controls is the colour the skin's control
# brush paints, (239,243,244): in the frame's background cell, in the text
# areas of the web buttons at rest, and in the main-window picture where
# the window's controls sit (left, top, right, bottom).
while read -r file l t r b what; do
  d=$(convert "$res/images/$file" -crop "$((r - l))x$((b - t))+$l+$t" +repage \
        \( +clone -fill 'rgb(239,243,244)' -colorize 100 \) -compose difference -composite \
        -format '%[fx:round(255*maxima)]' info:)
  [ "$d" -le 3 ] || fail "$file: not plain control ground under the $what (differs by $d)"
done <<'LIST'
window_frame.jpg 14 50 19 55 background-cell
web_buttons.jpg 0 34 55 50 text-area-register
web_buttons.jpg 0 84 55 100 text-area-purchase
web_buttons.jpg 0 134 55 150 text-area-free-trial
web_buttons.jpg 0 184 55 200 text-area-help
web_buttons.jpg 0 234 55 250 text-area-support
main_window.jpg 30 124 310 199 announcements
main_window.jpg 40 210 310 228 address-row
main_window.jpg 32 250 290 325 form
main_window.jpg 40 335 290 362 buttons
main_window.jpg 72 377 305 392 status-line
main_window.jpg 15 410 310 459 web-buttons
LIST

# Icons: the window icon and five tray icons at 16 and 32 pixels.
check_ico() {
  local f=$1 want=$2 got
  [ -f "$f" ] || { fail "$f missing"; return; }
  got=$(identify -format '%wx%h ' "$f" 2>&1 | xargs)
  [ "$got" = "$want" ] || fail "$(basename "$f"): sizes '$got', expected '$want'"
}
check_ico "$res/quillnet.ico" "16x16 24x24 32x32 48x48 256x256"
for n in offline both sending idle receiving; do check_ico "$res/icons/tray_$n.ico" "16x16 32x32"; done

# Animation: an AVI of 20x20 uncompressed 8-bit frames, more than one.
avi=$res/animation/busy.avi
u32() { od -A n -t u4 -j "$2" -N 4 "$1" | tr -d ' '; }
if [ -f "$avi" ]; then
  [ "$(head -c 4 "$avi")" = RIFF ] && [ "$(dd if="$avi" bs=1 skip=8 count=4 2>/dev/null)" = "AVI " ] || fail "busy.avi: not a RIFF AVI"
  [ "$(u32 "$avi" 64)x$(u32 "$avi" 68)" = 20x20 ] || fail "busy.avi: frame size $(u32 "$avi" 64)x$(u32 "$avi" 68)"
  [ "$(u32 "$avi" 48)" -gt 1 ] || fail "busy.avi: one frame only"
  grep -q -a idx1 "$avi" || fail "busy.avi: no index"
else
  fail "busy.avi missing"
fi

# The resource script declares every file it names.
while read -r _ _ path; do
  path=${path//\"/}
  [ -f "$res/$path" ] || fail "artwork.rc names a missing file: $path"
done < <(grep -E '^[0-9]+ (IMAGE|ICON|AVI) ' "$res/artwork.rc")
[ "$(grep -c -E '^[0-9]+ IMAGE ' "$res/artwork.rc")" = 20 ] || fail "artwork.rc: not twenty images"

# Reproducible: the generator writes exactly the committed files.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
if PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 "$src/tools/artwork/make_artwork.py" "$tmp"; then
  (cd "$tmp" && find . -type f | sort) > "$tmp.list"
  while read -r p; do
    cmp -s "$tmp/$p" "$res/$p" || fail "generator output differs from the committed $p"
  done < "$tmp.list"
  rm -f "$tmp.list"
else
  fail "the generator failed"
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "artwork: all checks passed"
