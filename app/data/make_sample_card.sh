#!/usr/bin/env bash
# Makes the sample memory card the window program's screenshot mode scans: a
# FAT32 card from which a camera folder, a song and a letter were deleted.
# Usage: make_sample_card.sh OUTPUT.img
set -euo pipefail
out=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1
image="$work/card.img"
truncate -s 48M "$image"
mkfs.fat -F 32 -n HOLIDAY "$image" >/dev/null
mkdir -p "$work/DCIM/100CANON" "$work/Documents"
n=0
for name in IMG_0412 IMG_0413 IMG_0414 IMG_0415 IMG_0421 IMG_0422 IMG_0430; do
    n=$((n + 1))
    # Real pictures where ImageMagick is there, so the preview shows a photo.
    if command -v convert >/dev/null 2>&1; then
        convert -seed "$n" -size 800x600 plasma:fractal -quality 90 "$work/DCIM/100CANON/$name.JPG"
    else
        { printf '\xff\xd8\xff\xe1\x00\x16Exif\x00\x00'; head -c $((90000 + 37000 * n)) /dev/urandom; printf '\xff\xd9'; } \
            > "$work/DCIM/100CANON/$name.JPG"
    fi
done
{ printf 'ID3\x03\x00\x00\x00\x00\x00\x00'; head -c 2400000 /dev/urandom; } > "$work/Documents/Our song.mp3"
printf 'Dear Anna,\nthe photos from the lake are on this card.\n' > "$work/Documents/Letter to Anna.txt"
printf 'Flight 14:05, gate B12\n' > "$work/Documents/travel plan.txt"
mcopy -s -i "$image" "$work/DCIM" "$work/Documents" ::/
mdeltree -i "$image" ::/DCIM
mdel -i "$image" "::/Documents/Our song.mp3" "::/Documents/Letter to Anna.txt" "::/Documents/travel plan.txt"
# The card went on being used: the second half of one deleted photo now holds
# a text, to the end of its last sector, so the scan calls it damaged.
if command -v convert >/dev/null 2>&1 && command -v python3 >/dev/null 2>&1; then
    python3 - "$image" "$work/DCIM/100CANON/IMG_0414.JPG" <<'EOF'
import sys
card = bytearray(open(sys.argv[1], "rb").read())
photo = open(sys.argv[2], "rb").read()
at = card.find(photo[:4096])
if at >= 0:
    text = b"shopping list: bread, milk, batteries for the camera\n"
    for i in range(len(photo) // 2, (len(photo) + 511) // 512 * 512):
        card[at + i] = text[i % len(text)]
    open(sys.argv[1], "wb").write(card)
EOF
fi
mv "$image" "$out"
