#!/usr/bin/env bash
# Makes files whose length only their own structure tells, in the variants
# that trip a carver up, into the folder given as the only argument: JPEGs
# with thumbnails and progressive scans; TIFFs in both byte
# orders, tiled, compressed and with several pages; ISO media with the movie
# box first and last; linearized, object-stream and incrementally updated
# PDFs; ZIPs with a comment; and so on. A file whose tool is missing is simply
# not made; the tests skip it.
set -u
out="${1:?usage: make_structured_files.sh OUTDIR}"
mkdir -p "$out"
cd "$out" || exit 1
work="$out/work"
mkdir -p "$work"

have() { command -v "$1" >/dev/null 2>&1; }
quiet() { "$@" >/dev/null 2>&1; }

im=convert
[ -x /usr/bin/convert ] && im=/usr/bin/convert
if have "$im"; then
    src="$work/a.ppm"
    src2="$work/b.ppm"
    quiet "$im" -size 320x240 plasma:fractal -seed 11 "$src"
    quiet "$im" -size 320x240 plasma:fractal -seed 12 "$src2"
    quiet "$im" "$src" -quality 92 jpg:"$out/photo.jpg"
    quiet "$im" "$src" -interlace Plane -quality 85 jpg:"$out/progressive.jpg"
    if have exiftool; then
        quiet "$im" "$src" -resize 64x48 -quality 70 jpg:"$work/thumb.jpg"
        cp "$out/photo.jpg" "$work/exif.jpg"
        quiet exiftool -overwrite_original -JFIF:all= -Make=Sorvane -Model=Card \
            "-ThumbnailImage<=$work/thumb.jpg" "$work/exif.jpg" && cp "$work/exif.jpg" "$out/exif_thumbnail.jpg"
    fi
    quiet "$im" "$src" png:"$out/picture.png"
    quiet "$im" "$src" -interlace PNG png:"$out/interlaced.png"
    quiet "$im" -delay 20 "$src" "$src2" -colors 64 gif:"$out/animated.gif"
    quiet "$im" "$src" BMP3:"$out/v3.bmp"
    quiet "$im" "$src" -define bmp:format=bmp4 BMP:"$out/v4.bmp"
    quiet "$im" "$src" -alpha set BMP:"$out/v5.bmp"
    quiet "$im" "$src" -compress none tif:"$out/plain.tif"
    quiet "$im" "$src" -compress lzw -define tiff:endian=msb tif:"$out/big_endian_lzw.tif"
    quiet "$im" "$src" -compress zip -define tiff:tile-geometry=64x64 tif:"$out/tiled.tif"
    quiet "$im" "$src" -compress jpeg -define tiff:rows-per-strip=16 tif:"$out/jpeg_strips.tif"
    quiet "$im" "$src" "$src2" -compress lzw tif:"$out/two_pages.tif"
    quiet "$im" "$src" -compress none psd:"$out/plain.psd"
    quiet "$im" "$src" -compress RLE psd:"$out/rle.psd"
fi

if have ffmpeg; then
    ff() { quiet ffmpeg -nostdin -y -hide_banner -loglevel error "$@"; }
    video=(-f lavfi -i testsrc=size=160x120:rate=25 -t 2)
    audio=(-f lavfi -i sine=frequency=440:sample_rate=44100 -t 2)
    av=("${video[@]}" "${audio[@]}")
    ff "${av[@]}" -c:v mpeg4 -c:a aac -f mp4 "$out/movie_last.mp4"
    ff "${av[@]}" -c:v mpeg4 -c:a aac -movflags +faststart -f mp4 "$out/movie_first.mp4"
    ff "${av[@]}" -c:v mpeg4 -c:a aac -f mov "$out/movie.mov"
    ff "${av[@]}" -c:v h263 -s 176x144 -c:a aac -ar 8000 -ac 1 -f 3gp "$out/phone.3gp"
    ff "${av[@]}" -c:v h263 -s 176x144 -c:a aac -ar 8000 -ac 1 -f 3g2 "$out/phone.3g2"
    ff "${audio[@]}" -c:a aac -f ipod "$out/song.m4a"
    ff "${av[@]}" -c:v mpeg4 -c:a mp2 -f matroska "$out/movie.mkv"
    ff "${av[@]}" -c:v libvpx -deadline realtime -b:v 200k -c:a libopus -f webm "$out/movie.webm"
    ff "${av[@]}" -c:v flv -c:a libmp3lame -ar 44100 -f flv "$out/movie.flv"
    ff "${av[@]}" -c:v mpeg1video -c:a mp2 -f mpeg "$out/program.mpg"
    ff "${av[@]}" -c:v mpeg2video -c:a mp2 -f mpegts -mpegts_m2ts_mode 1 "$out/stream.m2ts"
    ff "${av[@]}" -c:v mpeg2video -c:a pcm_s16le -ar 48000 -f mxf "$out/movie.mxf"
    ff "${audio[@]}" -c:a mp2 -b:a 192k -f mp2 "$out/sound.mp2"
    ff "${audio[@]}" -c:a libmp3lame -write_id3v1 1 -metadata title=Sorvane -metadata artist=Card \
        -f mp3 "$out/tagged.mp3"
    ff -f lavfi -i testsrc=size=160x128:rate=25 -t 2 -c:v rv10 -f rm "$out/movie.rm"
    ff "${av[@]}" -c:v wmv2 -c:a wmav2 -f asf "$out/movie.wmv"
    ff "${audio[@]}" -c:a wmav2 -f asf "$out/sound.wma"
    # Video elementary streams closed by their sequence end code, as most
    # encoders write them (this one leaves it out, so it is added).
    if ff "${video[@]}" -c:v mpeg2video -f mpeg2video "$work/video.m2v"; then
        { cat "$work/video.m2v"; printf '\x00\x00\x01\xb7'; } >"$out/ended.m2v"
    fi
    if ff "${video[@]}" -c:v mpeg1video -f mpeg1video "$work/video.m1v"; then
        { cat "$work/video.m1v"; printf '\x00\x00\x01\xb7'; } >"$out/ended.m1v"
    fi
    # A compressed Flash file: the same movie with everything after its
    # 8-byte header run through zlib, as the format allows.
    if ff "${video[@]}" -c:v flv -f swf "$work/movie.swf"; then
        /usr/bin/python3 -c 'import sys, zlib
d = open(sys.argv[1], "rb").read()
open(sys.argv[2], "wb").write(b"CWS" + bytes([10]) + d[4:8] + zlib.compress(d[8:], 9))' \
            "$work/movie.swf" "$out/compressed.swf"
    fi
fi

if have soffice; then
    profile="$work/lo-profile"
    lo() { quiet timeout 120 soffice -env:UserInstallation=file://"$profile" --headless "$@"; }
    seq 1 400 | sed 's/^/Sorvane keeps every line of this letter: /' >"$work/letter.txt"
    lo --convert-to pdf --outdir "$work" "$work/letter.txt" && cp "$work/letter.pdf" "$out/letter.pdf"
    lo --convert-to odt --outdir "$out" "$work/letter.txt"
    if have qpdf && [ -f "$out/letter.pdf" ]; then
        quiet qpdf --linearize "$out/letter.pdf" "$out/linearized.pdf"
        quiet qpdf --object-streams=generate "$out/letter.pdf" "$out/object_streams.pdf"
        # An incremental update: a new info dictionary, its cross-reference
        # section and a trailer that points back at the first one.
        if quiet qpdf --object-streams=disable --static-id "$out/letter.pdf" "$work/base.pdf"; then
            /usr/bin/python3 - "$work/base.pdf" "$out/updated.pdf" <<'PY'
import re, sys
base = open(sys.argv[1], "rb").read()
prev = int(re.findall(rb"startxref\s+(\d+)", base)[-1])
size = int(re.findall(rb"/Size (\d+)", base)[-1])
root = re.findall(rb"/Root (\d+ \d+ R)", base)[-1]
obj = b"%d 0 obj\n<< /Title (Updated by Sorvane) >>\nendobj\n" % size
at = len(base)
xref_at = at + len(obj)
xref = b"xref\n0 1\n0000000000 65535 f \n%d 1\n%010d 00000 n \n" % (size, at)
trailer = b"trailer\n<< /Size %d /Root %s /Info %d 0 R /Prev %d >>\nstartxref\n%d\n%%%%EOF\n" % (
    size + 1, root, size, prev, xref_at)
open(sys.argv[2], "wb").write(base + obj + xref + trailer)
PY
        fi
    fi
fi

for i in 1 2 3; do seq 1 $((i * 900)) | sed "s/^/member $i line /" >"$work/member$i.txt"; done
if have zip; then
    (cd "$work" && echo "Sorvane archive comment" | quiet zip -q -X -z "$out/commented.zip" member1.txt member2.txt)
    (cd "$work" && quiet zip -q -X -0 "$out/stored.zip" member1.txt member3.txt)
fi
if have 7z; then
    (cd "$work" && quiet 7z a -bd "$out/archive.7z" member1.txt member2.txt member3.txt)
fi
if have gcab; then
    (cd "$work" && quiet gcab -c -z "$out/deflated.cab" member1.txt member2.txt member3.txt)
    (cd "$work" && quiet gcab -c "$out/stored.cab" member1.txt member3.txt)
fi
if have gzip; then
    for level in 1 2 3 4 5 6 7 8 9; do gzip -"$level" -c "$work/member3.txt" >"$out/level$level.gz"; done
fi
if have sqlite3; then
    rm -f "$out/pages.db"
    quiet sqlite3 "$out/pages.db" "create table t(a integer, b text);
        with recursive n(x) as (select 1 union all select x + 1 from n where x < 3000)
        insert into t select x, printf('row %d of a table that spans pages', x) from n;"
fi
for font in /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf /usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf; do
    [ -f "$font" ] && cp "$font" "$out/"
done

rm -rf "$work"
exit 0
