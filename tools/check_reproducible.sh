#!/usr/bin/env bash
# Reproducible builds: builds the checked-out commit twice, in two fresh
# clones at different paths, and compares byte for byte what the packages
# ship: the stripped Linux program in the Debian package and helligkeit.exe
# in the Windows zip. Only the programs are built, without the tests (the
# deb and zip workflow presets), natively and with MinGW-w64. Needs git,
# python3 and dpkg-deb besides the compilers.
#
# Usage: tools/check_reproducible.sh
# Uncommitted changes are not part of the check: the clones are of the commit.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$root" rev-parse HEAD)
work=$(mktemp -d "${TMPDIR:-/tmp}/helligkeit-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT

# build DIR: clones the commit into DIR, builds both packages there, and
# takes the two programs out of them into DIR.out/.
build() {
  local dir=$1 log=$1.log
  mkdir -p "$(dirname "$dir")" "$dir.out"
  # A chain of &&: `set -e` does not hold inside a tested command.
  if ! {
    git clone --quiet --no-checkout "$root" "$dir" &&
      git -C "$dir" checkout --quiet --detach "$commit" &&
      (cd "$dir" &&
        cmake --workflow --preset deb &&
        cmake --workflow --preset zip)
  } >"$log" 2>&1; then
    cat "$log" >&2
    echo "check_reproducible: the build in $dir failed" >&2
    exit 1
  fi
  local debs=("$dir"/build/helligkeit_*_amd64.deb) zips=("$dir"/build-win64/helligkeit-*-win64.zip)
  dpkg-deb --fsys-tarfile "${debs[0]}" | tar -xOf - ./usr/bin/helligkeit >"$dir.out/helligkeit"
  python3 - "${zips[0]}" "$dir.out/helligkeit.exe" <<'EOF'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as archive, open(sys.argv[2], "wb") as out:
    # The zip's one folder is named like the zip.
    folder = sys.argv[1].rsplit("/", 1)[-1].removesuffix(".zip")
    out.write(archive.read(f"{folder}/helligkeit.exe"))
EOF
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
for program in helligkeit helligkeit.exe; do
  if cmp "$first.out/$program" "$second.out/$program"; then
    size=$(stat -c %s "$first.out/$program")
    echo "identical: $program ($size bytes, sha256 $(sha256sum <"$first.out/$program" | cut -c1-16)...)"
  else
    echo "DIFFERENT: $program; differing bytes: $(cmp -l "$first.out/$program" "$second.out/$program" | wc -l)" >&2
    status=1
  fi
done
echo "two builds in $((SECONDS - start)) s"
exit "$status"
