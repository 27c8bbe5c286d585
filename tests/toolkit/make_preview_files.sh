#!/usr/bin/env bash
# Makes the files the preview tests show, with the real programs that make such
# files: LibreOffice for office documents and PDF, ImageMagick for pictures,
# ffmpeg for sound and video, zip, 7z and tar for archives. Run once per build
# into OUTDIR; a program that is missing leaves its files out (the tests that
# need them skip), and the script still ends with status 0.
set -uo pipefail
out=${1:?usage: make_preview_files.sh OUTDIR}
mkdir -p "$out"
cd "$out" || exit 1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
have() { command -v "$1" >/dev/null 2>&1; }

# ---- pictures
if have convert; then
    convert -size 640x480 gradient:navy-orange -fill white -draw "circle 320,240 320,120" photo.jpg
    convert -size 1x1 xc:red tiny.png
    # A photo of about 5 MB: noise does not compress.
    convert -size 1800x1400 xc: +noise Random -quality 97 big.jpg
    # Cut short, as a carved file whose end was overwritten: the first 60 %.
    size=$(stat -c %s photo.jpg)
    head -c $((size * 60 / 100)) photo.jpg > truncated.jpg
fi
# Not a picture at all, though named like one.
printf 'this is not a picture at all, only text named .jpg\n' > notapicture.jpg

# ---- raw bytes: byte 0 and more than 1024 bytes
python3 - <<'PY'
data = bytes([0x41, 0x00, 0x42]) + bytes((i % 26) + 0x61 for i in range(2100))
open("unknown.xyz", "wb").write(data)
PY

# ---- office documents and PDF
if have soffice; then
    profile="file://$work/profile"
    office() { soffice -env:UserInstallation="$profile" --headless --convert-to "$@" --outdir "$out" >/dev/null 2>&1; }
    python3 - "$work" <<'PY'
import sys, os
work = sys.argv[1]
# A letter whose text runs well past 2048 characters.
paras = ["Dear reader, this is paragraph %d of the preview letter." % i for i in range(1, 80)]
with open(os.path.join(work, "letter.html"), "w") as f:
    f.write("<html><body><h1>Preview letter</h1>" + "".join("<p>%s</p>" % p for p in paras) + "</body></html>")
# A sheet of 50 rows x 30 columns: cell text names its place.
with open(os.path.join(work, "sheet.csv"), "w") as f:
    for r in range(1, 51):
        f.write(",".join("R%dC%d" % (r, c) for c in range(1, 31)) + "\n")
# 20 pages: each page a heading followed by a page break.
with open(os.path.join(work, "pages.html"), "w") as f:
    f.write("<html><body>")
    for p in range(1, 21):
        brk = ' style="page-break-before: always"' if p > 1 else ""
        f.write("<h1%s>Page %d of the long report</h1><p>Body text of page %d.</p>" % (brk, p, p))
    f.write("</body></html>")
# 25 slides, each with a title frame naming it.
ns = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
      'xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" '
      'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
      'xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" '
      'xmlns:presentation="urn:oasis:names:tc:opendocument:xmlns:presentation:1.0"')
pages = "".join(
    '<draw:page draw:name="page%d"><draw:frame svg:x="2cm" svg:y="2cm" svg:width="20cm" svg:height="3cm">'
    '<draw:text-box><text:p>Slide number %d</text:p></draw:text-box></draw:frame></draw:page>' % (n, n)
    for n in range(1, 26))
with open(os.path.join(work, "deck.fodp"), "w") as f:
    f.write('<?xml version="1.0" encoding="UTF-8"?><office:document %s office:version="1.2" '
            'office:mimetype="application/vnd.oasis.opendocument.presentation"><office:body>'
            '<office:presentation>%s</office:presentation></office:body></office:document>' % (ns, pages))
PY
    cp "$work/sheet.csv" sheet.csv
    office 'docx:MS Word 2007 XML' "$work/letter.html"
    office 'odt:writer8' "$work/letter.html"
    office 'doc:MS Word 97' "$work/letter.html"
    office 'rtf:Rich Text Format' "$work/letter.html"
    office xlsx "$work/sheet.csv"
    office 'xls:MS Excel 97' "$work/sheet.csv"
    office pptx "$work/deck.fodp"
    office 'ppt:MS PowerPoint 97' "$work/deck.fodp"
    office odp "$work/deck.fodp"
    office 'pdf:writer_web_pdf_Export' "$work/pages.html"
    [ -f pages.pdf ] && head -c $(( $(stat -c %s pages.pdf) / 3 )) pages.pdf > truncated.pdf
fi

# ---- archives
mkdir -p "$work/box/inner"
echo "first file" > "$work/box/readme.txt"
echo "second file" > "$work/box/inner/notes.txt"
(cd "$work/box" && have zip && zip -qr "$out/bundle.zip" readme.txt inner)
(cd "$work/box" && have 7z && 7z a -bd "$out/bundle.7z" readme.txt inner >/dev/null)
(cd "$work/box" && tar czf "$out/bundle.tar.gz" readme.txt inner)
# A zip whose header is overwritten with garbage after its signature.
if [ -f bundle.zip ]; then
    cp bundle.zip damaged.zip
    printf 'PK\003\004\377\377\377\377\377\377\377\377\377\377\377\377\377\377' | dd of=damaged.zip conv=notrunc 2>/dev/null
    head -c 40 bundle.zip > cut.zip
fi

# ---- sound and video
if have ffmpeg; then
    ffmpeg -loglevel error -y -f lavfi -i "sine=frequency=440:duration=4" tone.wav
    ffmpeg -loglevel error -y -f lavfi -i testsrc=duration=4:size=160x120:rate=10 -c:v mjpeg clip.avi
    head -c 300 clip.avi > broken.avi
fi
touch .complete
exit 0
