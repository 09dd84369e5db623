#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and make
# the sample disk image. Non-interactive and safe to run again.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev clang-format ccache
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  # GUI
  qt6-base-dev qt6-base-dev-tools libgl-dev xvfb xauth fonts-dejavu-core
  qt6-image-formats-plugins  # TIFF and more for the found-file preview
  # the command line: argument parsing and JSON output
  libcli11-dev nlohmann-json3-dev
  # help: chmcmd compiles the help file, chmlib reads it
  fp-utils libchm-dev
  # live update
  libcurl4-openssl-dev libssl-dev libmspack-dev python3-pyftpdlib openssl
  gcab  # cabinets for the update tests
  # sample disk image and its files
  dosfstools mtools imagemagick ghostscript zip arj tar sox python3 bc
  # failing-disk tests (a FUSE file system of the tests' own) and the recovery report
  libfuse3-dev fuse3 libxml2-dev libxml2-utils
  # forensic image formats: Expert Witness (E01) through libewf, and its tools for the tests
  libewf-dev ewf-tools
  # the Debian package and its checks: dpkg-shlibdeps, desktop entry, metainfo, man pages
  dpkg-dev desktop-file-utils appstream man-db
  # the real-ends corpus: more real tools
  ffmpeg lhasa
  # compound documents (DOC, XLS, PPT) written by a real office suite
  libreoffice-writer-nogui libreoffice-calc-nogui libreoffice-impress-nogui
  # file systems: their free space read through The Sleuth Kit; test images made by real tools
  libtsk-dev e2fsprogs fdisk ntfs-3g
  # today's kinds of files: deflate for GZIP and ZIP members; the tools that make real ones
  zlib1g-dev libheif-examples libavif-bin webp libimage-exiftool-perl p7zip-full xz-utils
  gzip bzip2 zstd sqlite3 mkvtoolnix openjdk-17-jdk-headless
  # cards formatted as exFAT, for the corpus of today's kinds
  exfat-fuse exfatprogs
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: these packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get -o DPkg::Lock::Timeout=600 update -q
  apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "${missing[@]}"
fi
echo "setup: all packages present"
