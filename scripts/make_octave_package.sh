#!/usr/bin/env bash
# Makes the Octave package archive lineharvest-VERSION.tar.gz (VERSION from
# the file VERSION) in OUTDIR (default: dist/):
#   pkg install lineharvest-VERSION.tar.gz; pkg load lineharvest
# gives lineharvest, coordsift, epipolarscreen, buildgridcells and the line
# matcher linematch (where OpenCV's contrib modules are installed) with
# their help. The
# archive holds the sources and a src/Makefile that builds the MEX files
# with mkoctfile --mex when the package is installed.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
outdir="$(mkdir -p "${1:-$root/dist}" && cd "${1:-$root/dist}" && pwd)"

version="$(head -n 1 "$root/VERSION")"
[[ "$version" =~ ^[0-9]+(\.[0-9]+)*$ ]] || { echo "no version in VERSION" >&2; exit 1; }

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
pkg="$stage/lineharvest"
mkdir -p "$pkg/inst/private" "$pkg/src"

cat > "$pkg/DESCRIPTION" <<DESC
Name: lineharvest
Version: $version
Date: $(date -u +%Y-%m-%d)
Author: the lineharvest developers
Maintainer: the lineharvest developers
Title: Line-segment correspondences through local homographies
Description: lineharvest adds line-segment correspondences between two
 images by mapping image-1 segments through the local homographies of
 already matched segment pairs and testing the image-2 segments of a grid
 index; buildgridcells writes that grid index; epipolarscreen screens
 segment pairs with an epipolar matrix; coordsift groups the points of a
 point table by their coordinates; linematch matches the line segments of
 two images with no ground truth.
Depends: octave (>= 6.1.0)
License: see COPYING
SystemRequirements: for linematch only: libopencv-contrib-dev,
 libopencv-imgcodecs-dev, libopencv-calib3d-dev, libjpeg-dev (without them
 the package installs without linematch)
DESC
cp "$root/packaging/octave/INDEX" "$root/packaging/octave/COPYING" "$pkg/"

# User m-code and the help files of the MEX modules, each beside its
# gateway: gateway/<module>/<module>.m and matcher/mex/.
cp "$root"/matlab/*.m "$pkg/inst/"
cp "$root"/matlab/private/*.m "$pkg/inst/private/"
cp "$root"/gateway/*/*.m "$root"/matcher/mex/*.m "$pkg/inst/"

# Sources: the cores, the gateways with their shared layer, the public headers.
# Whole folders: a new source file is shipped without a word here (the
# Makefile compiles matcher/src without its folder output/, which only the
# commands use, so that is left out).
for folder in lineharvest coordsift gateway include matcher/src matcher/include matcher/mex; do
  mkdir -p "$pkg/src/$folder"
  (cd "$root/$folder" && find . -path ./output -prune -o \( -name '*.cpp' -o -name '*.hpp' -o -name '*.h' \) \
     -exec cp --parents {} "$pkg/src/$folder/" \;)
done
cp "$root/cmake/mex_entry_export.h" "$root/packaging/octave/Makefile" "$pkg/src/"

mkdir -p "$outdir"
archive="$outdir/lineharvest-$version.tar.gz"
tar -C "$stage" --owner=0 --group=0 --sort=name -czf "$archive" lineharvest
echo "$archive"
