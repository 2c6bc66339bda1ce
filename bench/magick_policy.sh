# Sourced by the peer benchmarks. Debian's ImageMagick policy caps memory at
# 256 MiB: `magick_policy DIR` writes a policy with room for 6000 x 4000
# pictures into DIR/magick and points ImageMagick at it.
magick_policy() {
  mkdir -p "$1/magick"
  cat > "$1/magick/policy.xml" <<'XML'
<policymap>
  <policy domain="resource" name="memory" value="4GiB"/>
  <policy domain="resource" name="map" value="4GiB"/>
  <policy domain="resource" name="area" value="1GP"/>
  <policy domain="resource" name="disk" value="8GiB"/>
  <policy domain="resource" name="width" value="64KP"/>
  <policy domain="resource" name="height" value="64KP"/>
</policymap>
XML
  export MAGICK_CONFIGURE_PATH="$1/magick"
}

# `photo_tif DIR`: the photo-like 6000 x 4000 picture every peer benchmark
# works on, as an uncompressed 24-bit TIFF at DIR/photo.tif.
photo_tif() {
  echo "Preparing a photo-like 6000 x 4000 picture in $1 ..."
  /usr/bin/convert -size 1500x1000 -seed 7 plasma:fractal -blur 0x1 -resize 6000x4000! \
    -depth 8 -compress none "$1/photo.tif"
}
