#!/bin/sh
# Prints the Debian packages that building, testing and releasing helligkeit
# use, one a line: those of debian-packages.txt, where a line that names
# TRIPLET stands for one for each machine of cmake/machines.txt, with its
# triplet, and a line that names ARCH for one for each machine whose package
# is released, with its Debian architecture. CI installs them, and so do
# contributors (CONTRIBUTING.md). Runs on a fresh Debian machine: sh and awk.
set -eu
cd "$(dirname "$0")/.."
awk '
  FNR == NR {  # cmake/machines.txt: the columns machine, triplet, released
    if (/^[^#]/) {
      triplets[++machines] = $3
      if ($5 == "yes") arches[++released] = $1
    }
    next
  }
  { sub(/#.*/, "") }
  /TRIPLET/ {
    for (i = 1; i <= machines; i++) { line = $1; sub(/TRIPLET/, triplets[i], line); print line }
    next
  }
  /ARCH/ {
    for (i = 1; i <= released; i++) { line = $1; sub(/ARCH/, arches[i], line); print line }
    next
  }
  NF { print $1 }
' cmake/machines.txt debian-packages.txt
