#!/usr/bin/env bash
# Reproducible builds: builds the checked-out commit twice, in two fresh
# clones at different paths, and compares byte for byte what the packages
# ship: the stripped Linux program in the Debian package, helligkeit.exe in
# the Windows zip, and the whole Windows installer. Only what the packages
# hold is built, without the tests (the deb, zip and msi workflow presets),
# natively and with MinGW-w64. Needs what the packages' builds need (the
# installer group of debian-packages.txt) and git.
#
# Usage: tools/check_reproducible.sh
# Uncommitted changes are not part of the check: the clones are of the commit.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$root" rev-parse HEAD)
work=$(mktemp -d "${TMPDIR:-/tmp}/helligkeit-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT

# build DIR: clones the commit into DIR, builds the packages there, and
# takes the two programs out of them, and the installer, into DIR.out/.
build() {
  local dir=$1 log=$1.log
  mkdir -p "$(dirname "$dir")" "$dir.out"
  # A chain of &&: `set -e` does not hold inside a tested command.
  if ! {
    git clone --quiet --no-checkout "$root" "$dir" &&
      git -C "$dir" checkout --quiet --detach "$commit" &&
      (cd "$dir" &&
        cmake --workflow --preset deb &&
        cmake --workflow --preset zip &&
        cmake --workflow --preset msi)
  } >"$log" 2>&1; then
    cat "$log" >&2
    echo "check_reproducible: the build in $dir failed" >&2
    exit 1
  fi
  local debs=("$dir"/build/helligkeit_*_amd64.deb) zips=("$dir"/build-win64/helligkeit-*-win64.zip)
  local msis=("$dir"/build-win64/helligkeit-*-win64.msi)
  cp "${msis[0]}" "$dir.out/helligkeit.msi"
  dpkg-deb --fsys-tarfile "${debs[0]}" | tar -xOf - ./usr/bin/helligkeit >"$dir.out/helligkeit"
  python3 -m zipfile -e "${zips[0]}" "$dir.zip"
  cp "$dir.zip"/*/helligkeit.exe "$dir.out/"
}

echo "building commit $commit twice"
start=$SECONDS
# Paths of different length and depth, so that a path that leaks into a
# binary also shifts what follows it.
first=$work/a
second=$work/second-clone/of-the-repository
build "$first"
build "$second"

status=0
for file in helligkeit helligkeit.exe helligkeit.msi; do
  if cmp "$first.out/$file" "$second.out/$file"; then
    size=$(stat -c %s "$first.out/$file")
    echo "identical: $file ($size bytes, sha256 $(sha256sum <"$first.out/$file" | cut -c1-16)...)"
  else
    echo "DIFFERENT: $file; differing bytes: $(cmp -l "$first.out/$file" "$second.out/$file" | wc -l)" >&2
    status=1
  fi
done
echo "two builds in $((SECONDS - start)) s"
exit "$status"
