#!/usr/bin/env bash
# Makes one small file of every type the signature table knows that a real
# tool can produce, into the folder given as the only argument. A type whose
# tool is missing is simply not made; the tests skip it. Types no tool on the
# system makes (ape, mid, mmf, fla, rar, pst, dbx, gho, a compound file of
# no office kind, and the PE family) are
# written by the tests themselves, and so is an MTS stream (the muxer at hand
# cannot give it the transport stream id 0 that the recogniser looks for).
set -u
out="${1:?usage: make_real_files.sh OUTDIR}"
mkdir -p "$out"
cd "$out" || exit 1
work="$out/work"
mkdir -p "$work"

have() { command -v "$1" >/dev/null 2>&1; }
quiet() { "$@" >/dev/null 2>&1; }

# ImageMagick: prefer the real program over any wrapper on PATH.
im=convert
[ -x /usr/bin/convert ] && im=/usr/bin/convert
if have "$im"; then
    src="$work/picture.ppm"
    quiet "$im" -size 96x64 plasma:fractal -seed 7 "$src" || quiet "$im" -size 96x64 gradient:red-blue "$src"
    quiet "$im" "$src" -quality 90 jpg:"$out/jfif.jpg"
    quiet "$im" "$src" gif:"$out/picture.gif"
    quiet "$im" "$src" png:"$out/picture.png"
    quiet "$im" "$src" BMP3:"$out/picture.bmp"
    quiet "$im" "$src" -compress none tif:"$out/picture.tif"
    quiet "$im" "$src" psd:"$out/picture.psd"
    quiet "$im" "$src" -define icon:auto-resize=16,32,48 ico:"$out/picture.ico"
    if have exiftool && [ -f "$out/jfif.jpg" ]; then
        # An Exif picture begins with its APP1 segment: drop the JFIF one.
        cp "$out/jfif.jpg" "$work/exif.jpg"
        quiet exiftool -overwrite_original -JFIF:all= -Artist=Sorvane -Make=Sorvane "$work/exif.jpg" &&
            cp "$work/exif.jpg" "$out/exif.jpg"
    fi
fi

if have ffmpeg; then
    ff() { quiet ffmpeg -nostdin -y -hide_banner -loglevel error "$@"; }
    video=(-f lavfi -i testsrc=size=64x48:rate=25 -t 1)
    audio=(-f lavfi -i sine=frequency=440:sample_rate=48000 -t 1)
    ff "${video[@]}" -c:v mpeg1video -f mpeg "$out/program.mpg"
    ff "${video[@]}" -c:v mpeg4 -f mp4 "$out/movie.mp4"
    ff "${video[@]}" -c:v mpeg4 -f 3gp "$out/movie.3gp"
    ff "${video[@]}" -c:v mpeg4 -f mov "$out/movie.mov"
    ff "${video[@]}" -c:v mpeg4 -f matroska "$out/movie.mkv"
    ff "${video[@]}" -c:v mpeg2video -f mpegts "$out/stream.ts"
    ff "${video[@]}" -c:v mpeg1video -f mpeg1video "$out/video.m1v"
    ff "${video[@]}" -c:v mpeg2video -f mxf "$out/movie.mxf"
    ff "${video[@]}" -c:v wmv2 -f asf "$out/movie.wmv"
    ff "${video[@]}" -c:v mjpeg -f swf "$out/movie.swf"
    ff "${video[@]}" -c:v flv -f flv "$out/movie.flv"
    ff "${video[@]}" -c:v mpeg4 -f avi "$out/movie.avi"
    ff "${video[@]}" -c:v rv10 -f rm "$out/movie.rm"
    ff "${audio[@]}" -c:a libmp3lame -write_id3v1 1 -metadata title=Sorvane -f mp3 "$out/sound.mp3"
    ff "${audio[@]}" -bitexact -c:a pcm_s16le -f wav "$out/sound.wav"
fi

# The MP2 recogniser wants a 384 kbit/s stereo stream at 48 kHz whose frames
# are not marked original; twolame can be told so.
if have twolame && [ -f "$out/sound.wav" ]; then
    quiet twolame -o -b 384 -m s "$out/sound.wav" "$out/sound.mp2"
fi

if have sqlite3; then
    rm -f "$out/store.db"
    quiet sqlite3 "$out/store.db" "create table t(a integer, b text); insert into t values (1,'one'),(2,'two');"
fi

# Archive members: text that does not compress to nothing.
for i in 1 2 3; do seq 1 $((i * 700)) | sed "s/^/line $i /" >"$work/member$i.txt"; done
if have zip; then
    rm -f "$out/archive.zip"
    (cd "$work" && quiet zip -q -X "$out/archive.zip" member1.txt member2.txt member3.txt)
fi
if have 7z; then
    rm -f "$out/archive.7z"
    (cd "$work" && quiet 7z a -bd "$out/archive.7z" member1.txt member2.txt member3.txt)
fi
if have gzip; then
    # Maximum compression: the recogniser expects the extra flags of -9 or -1.
    gzip -9 -c "$work/member3.txt" >"$out/member.gz"
fi
if have gcab; then
    rm -f "$out/archive.cab"
    (cd "$work" && quiet gcab -c "$out/archive.cab" member1.txt member2.txt)
fi

# The recogniser wants the first table's data to begin with version 1.0, as
# in fonts whose "head" table comes first; fontTools writes fonts that way.
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
if [ -f "$font" ] && /usr/bin/python3 -c "import fontTools" 2>/dev/null; then
    quiet /usr/bin/python3 -c "import sys; from fontTools.ttLib import TTFont; TTFont(sys.argv[1]).save(sys.argv[2])" \
        "$font" "$out/font.ttf"
fi

if have soffice; then
    profile="$work/lo-profile"
    lo() { quiet timeout 120 soffice -env:UserInstallation=file://"$profile" --headless "$@"; }
    printf 'Sorvane recovers lost files.\nSecond line of the letter.\n' >"$work/letter.txt"
    printf 'name,count\napples,3\npears,5\n' >"$work/sheet.csv"
    cat >"$work/slides.fodp" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
 xmlns:presentation="urn:oasis:names:tc:opendocument:xmlns:presentation:1.0"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.presentation">
 <office:body><office:presentation>
  <draw:page draw:name="one"><draw:frame svg:x="2cm" svg:y="2cm" svg:width="10cm" svg:height="3cm">
   <draw:text-box><text:p>Sorvane slide</text:p></draw:text-box></draw:frame></draw:page>
 </office:presentation></office:body></office:document>
EOF
    lo --convert-to doc --outdir "$out" "$work/letter.txt"
    lo --convert-to docx --outdir "$out" "$work/letter.txt"
    lo --convert-to pdf --outdir "$out" "$work/letter.txt"
    lo --infilter=CSV:44,34,76 --convert-to xls --outdir "$out" "$work/sheet.csv"
    lo --infilter=CSV:44,34,76 --convert-to xlsx --outdir "$out" "$work/sheet.csv"
    lo --convert-to ppt --outdir "$out" "$work/slides.fodp"
    lo --convert-to pptx --outdir "$out" "$work/slides.fodp"
fi

rm -rf "$work"
exit 0
