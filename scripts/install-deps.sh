#!/usr/bin/env bash
# Installs the Debian packages Korvex needs to build, test and benchmark.
# Idempotent: packages already present are skipped, and the package lists are
# refreshed only when something is missing and apt cannot find it.
set -euo pipefail

PACKAGES=(
  # toolchain and build
  build-essential cmake ninja-build pkg-config ccache clang clang-format
  libclang-rt-14-dev  # libFuzzer and the sanitizer runtimes for clang
  # tests and benchmarks
  googletest libgtest-dev libbenchmark-dev
  # Python module and its tests (Debian's python3 at /usr/bin/python3)
  python3-dev pybind11-dev python3-pytest python3-numpy
  # codecs
  zlib1g-dev libjpeg62-turbo-dev libpng-dev libgif-dev libtiff-dev liblcms2-dev
  # host: screen capture from an X11 display; a virtual X server for its tests
  libx11-dev xvfb x11-xserver-utils
  # peer tools for cross-checks and benchmarks
  imagemagick libtiff-tools libjpeg-turbo-progs libvips-tools time bc fonts-dejavu-core libcairo2-dev libpango1.0-dev fonts-liberation
  # PDF output: font metrics through FreeType; PDF checks and rendering in tests
  libfreetype-dev libfontconfig-dev fontconfig qpdf poppler-utils img2pdf
  python3-opencv python3-pil
  # barcodes: zbar reads back every symbol drawn; libzint is the benchmark peer
  zbar-tools libzint-dev
  # metadata tags: cross-checks of EXIF, GPS and TIFF tags
  libimage-exiftool-perl exiv2
  # printing: libcups, a private cupsd in tests, Generic PDF PPD and the pdftopdf filter
  cups libcups2-dev cups-filters
  # HTTP download: libcurl; curl and openssl for the benchmark and the HTTPS tests
  libcurl4-openssl-dev curl openssl
  # scanning: libsane with its test backend; scanimage is the benchmark peer
  libsane-dev sane-utils libsane1
  # viewer: the Qt 6 Widgets host (korvex_qt, korvex view) and its offscreen tests
  qt6-base-dev
  # PDF pages in the viewer: rendering through poppler-cpp, decryption through libqpdf
  libpoppler-cpp-dev libqpdf-dev
  # batches: python3 -m korvex.batch on Dask's distributed scheduler
  python3-distributed
  # metafiles: WMF through libwmf, EMF through libemf2svg and librsvg; the
  # command-line tools and ImageMagick's WMF reader for cross-checks
  libwmf-dev libemf2svg-dev librsvg2-dev libwmf-bin emf2svg librsvg2-bin
  libmagickcore-6.q16-6-extra
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
APT=(env DEBIAN_FRONTEND=noninteractive $SUDO apt-get -y -o DPkg::Lock::Timeout=600 --no-install-recommends)

echo "install-deps: installing ${missing[*]}"
if ! "${APT[@]}" install "${missing[@]}"; then
  # The lists may be stale or absent on a fresh machine: refresh once and retry.
  $SUDO apt-get -o DPkg::Lock::Timeout=600 update
  "${APT[@]}" install "${missing[@]}"
fi
