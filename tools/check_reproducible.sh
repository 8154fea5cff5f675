#!/usr/bin/env bash
# Reproducible builds: makes the release of the checked-out commit twice
# (`make release`: unsigned, with the placeholder addresses, none of a
# maintainer's settings or keys), in two fresh clones at different paths,
# and compares the two dist/ folders, every file byte for byte. Needs what
# `make release` needs (debian-packages.txt) and git.
#
# Usage: tools/check_reproducible.sh
# Uncommitted changes are not part of the check: the clones are of the commit.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$root" rev-parse HEAD)
work=$(mktemp -d "${TMPDIR:-/tmp}/helligkeit-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT
unset HELLIGKEIT_GPG_KEY HELLIGKEIT_SIGN_PKCS12 HELLIGKEIT_MAINTAINER HELLIGKEIT_HOMEPAGE \
  HELLIGKEIT_SOURCE_URL HELLIGKEIT_BUG_URL SOURCE_DATE_EPOCH

echo "building commit $commit twice"
start=$SECONDS
# Paths of different length and depth, so that a path that leaks into a
# binary also shifts what follows it.
for dir in "$work/a" "$work/second-clone/of-the-repository"; do
  # A chain of &&: `set -e` does not hold inside a tested command.
  if ! { git clone --quiet --no-checkout "$root" "$dir" &&
    git -C "$dir" checkout --quiet --detach "$commit" &&
    make -C "$dir" release; } >"$work/release.log" 2>&1; then
    cat "$work/release.log" >&2
    echo "check_reproducible: the release in $dir failed" >&2
    exit 1
  fi
done

first=$work/a/dist second=$work/second-clone/of-the-repository/dist status=0
diff <(ls "$first") <(ls "$second") >&2 || { echo "DIFFERENT: the files in dist/" >&2; status=1; }
for path in "$first"/*; do
  file=${path##*/}
  if cmp "$path" "$second/$file"; then
    echo "identical: $file ($(stat -c %s "$path") bytes, sha256 $(sha256sum <"$path" | cut -c1-16)...)"
  else
    echo "DIFFERENT: $file; differing bytes: $(cmp -l "$path" "$second/$file" | wc -l)" >&2
    status=1
  fi
done
echo "two releases in $((SECONDS - start)) s"
exit "$status"
