#!/usr/bin/env bash
# Reproducible builds: makes the release of the checked-out commit (`make
# release`: unsigned, placeholder addresses, no maintainer's settings or keys)
# in this tree, whose build folders may hold builds of any settings, and in a
# fresh clone at a path of another length, and compares the two dist/ folders
# byte for byte. Needs git and what `make release` needs.
#
# Usage: tools/check_reproducible.sh (in a tree that is the commit: no change,
# no file git neither tracks nor ignores; dist/ then holds the release)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$root" rev-parse HEAD)
[[ -z $(git -C "$root" status --porcelain) ]] ||
  { echo "check_reproducible: the tree is not commit $commit: commit or stash first" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/helligkeit-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT
unset HELLIGKEIT_GPG_KEY HELLIGKEIT_SIGN_PKCS12 HELLIGKEIT_MAINTAINER HELLIGKEIT_HOMEPAGE \
  HELLIGKEIT_SOURCE_URL HELLIGKEIT_BUG_URL SOURCE_DATE_EPOCH
# A path that leaks into a binary then also shifts what follows it.
clone=$work/second-clone/of-the-repository
[[ ${#clone} -ne ${#root} ]] || clone+=-too

echo "building commit $commit twice"
start=$SECONDS
# A chain of &&: `set -e` does not hold inside a tested command.
if ! { make -C "$root" release && git clone --quiet --no-checkout "$root" "$clone" &&
  git -C "$clone" checkout --quiet --detach "$commit" && make -C "$clone" release; } \
  >"$work/release.log" 2>&1; then
  cat "$work/release.log" >&2
  echo "check_reproducible: a release failed" >&2
  exit 1
fi

status=0
diff <(ls "$root/dist") <(ls "$clone/dist") >&2 ||
  { echo "DIFFERENT: the files in dist/" >&2; status=1; }
for path in "$root"/dist/*; do
  file=${path##*/}
  if cmp "$path" "$clone/dist/$file"; then
    echo "identical: $file ($(stat -c %s "$path") bytes, sha256 $(sha256sum <"$path" | cut -c1-16)...)"
  else
    echo "DIFFERENT: $file; differing bytes: $(cmp -l "$path" "$clone/dist/$file" | wc -l)" >&2
    status=1
  fi
done
echo "two releases in $((SECONDS - start)) s"
exit "$status"
