#!/bin/sh
# Draws the document-link picture of the default templates (share/NSFtemplates/images/doclink.jpg):
# a 17 x 18 page with a folded corner and a link arrow, drawn here from primitives.
# Needs ImageMagick's convert.
set -eu
out=${1:-"$(dirname "$0")/../share/NSFtemplates/images/doclink.jpg"}
convert -size 17x18 xc:white \
    -fill '#fffbe6' -stroke '#6b6b6b' -strokewidth 1 \
    -draw 'polygon 2,1 11,1 15,5 15,16 2,16' \
    -fill '#d9d2b0' -draw 'polygon 11,1 11,5 15,5' \
    -stroke '#1f5fbf' -strokewidth 2 -draw 'line 5,12 10,7' \
    -fill '#1f5fbf' -stroke none -draw 'polygon 7,6 12,5 11,10' \
    -strip -quality 90 "$out"
