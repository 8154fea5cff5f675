#!/usr/bin/env bash
# Reproducible builds: makes the release of the checked-out commit twice
# (`make release`, unsigned, with the placeholder addresses), in two fresh
# clones at different paths, and compares the two dist/ folders file by
# file, byte for byte: the Debian packages, the Windows zip and installer,
# and SHA256SUMS. Needs what the packages' builds need (the installer and
# release groups of debian-packages.txt) and git.
#
# Usage: tools/check_reproducible.sh
# Uncommitted changes are not part of the check: the clones are of the commit.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$root" rev-parse HEAD)
work=$(mktemp -d "${TMPDIR:-/tmp}/helligkeit-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT

# build DIR: clones the commit into DIR and makes its release there, with
# none of the settings or keys a maintainer may have in the environment.
build() {
  local dir=$1 log=$1.log
  mkdir -p "$(dirname "$dir")"
  # A chain of &&: `set -e` does not hold inside a tested command.
  if ! {
    git clone --quiet --no-checkout "$root" "$dir" &&
      git -C "$dir" checkout --quiet --detach "$commit" &&
      env -u HELLIGKEIT_GPG_KEY -u HELLIGKEIT_SIGN_PKCS12 -u HELLIGKEIT_MAINTAINER \
        -u HELLIGKEIT_HOMEPAGE -u HELLIGKEIT_SOURCE_URL -u HELLIGKEIT_BUG_URL \
        -u SOURCE_DATE_EPOCH make -C "$dir" release
  } >"$log" 2>&1; then
    cat "$log" >&2
    echo "check_reproducible: the release in $dir failed" >&2
    exit 1
  fi
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
if ! diff <(ls "$first/dist") <(ls "$second/dist") >&2; then
  echo "DIFFERENT: the two dist/ folders hold different files" >&2
  status=1
fi
for path in "$first"/dist/*; do
  file=${path##*/}
  if cmp "$path" "$second/dist/$file"; then
    echo "identical: $file ($(stat -c %s "$path") bytes, sha256 $(sha256sum <"$path" | cut -c1-16)...)"
  else
    echo "DIFFERENT: $file; differing bytes: $(cmp -l "$path" "$second/dist/$file" | wc -l)" >&2
    status=1
  fi
done
echo "two releases in $((SECONDS - start)) s"
exit "$status"
