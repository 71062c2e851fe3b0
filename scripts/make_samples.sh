#!/usr/bin/env bash
# Writes the bundled sample images (one per format the viewer opens) from
# sample.bmp with ImageMagick. Run it after adding a format; commit what it
# writes together with a line in samples/MANIFEST.tsv.
set -euo pipefail
cd "$(dirname "$0")/../samples"
# A transparent vignette around the picture.
convert sample.bmp \( -size 400x300 radial-gradient:white-black -level 40%,100% \) \
  -alpha off -compose CopyOpacity -composite -define png:color-type=6 sample.png
convert sample.bmp -quality 88 -sampling-factor 2x2 -interlace none sample.jpg
convert sample.bmp -quality 88 -interlace JPEG sample-progressive.jpg
# Three frames that turn the picture, half a second each, looping.
convert -delay 50 -loop 0 sample.bmp \( sample.bmp -rotate 90 -resize 400x300 -gravity center -extent 400x300 \) \
  \( sample.bmp -flip \) -colors 64 sample.gif
# Half-size pictures for the formats of textures, science and high dynamic range.
convert sample.bmp -resize 50% -define dds:compression=dxt1 -define dds:mipmaps=0 sample.dds
convert sample.bmp -resize 50% -colorspace Gray -depth 16 sample.fits
convert sample.bmp -resize 50% sample.hdr
convert sample.bmp -resize 50% -depth 8 ppm:- | ../scripts/make_ilbm.py > sample.iff
# An icon of three bitmap renditions (64, 32, 16) with a transparent margin.
convert sample.bmp -resize 64x48 -gravity center -background none -extent 64x64 \
  -define icon:auto-resize=64,32,16 sample.ico
convert sample.bmp -colors 256 -type Palette sample.pcx
# Without the origin define, this ImageMagick marks its rows bottom-up but
# stores them top-down.
convert sample.bmp -colors 256 -type Palette -compress RLE -define tga:image-origin=TopLeft sample.tga
# The picture as a Photoshop document, its merged image PackBits-coded.
convert sample.bmp -resize 50% -compress RLE sample.psd
# The three turning frames again as a lossy animation, half a second each, looping.
convert -delay 50 -loop 0 sample.bmp \( sample.bmp -rotate 90 -resize 400x300 -gravity center -extent 400x300 \) \
  \( sample.bmp -flip \) -quality 80 sample.webp
# Two pages, the second upside down; LZW with the horizontal predictor.
convert sample.bmp \( sample.bmp -flip \) -compress lzw -define tiff:predictor=2 sample.tif
