#!/usr/bin/env bash
# Fails when a key used in the code has no (non-fuzzy) Russian translation in
# po/ru.po, or when msgfmt --check finds fault with po/ru.po.
set -uo pipefail
src=${1:-$(dirname "$0")/..}
cd "$src"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
scripts/extract_keys.sh "$tmp/keys.pot" || exit 1
status=0
if ! msgfmt --check -o "$tmp/ru.mo" po/ru.po; then
  echo "msgfmt --check rejects po/ru.po"; status=1
fi
# Every key of the code must be defined in ru.po, translated and not fuzzy
# (msgcmp counts untranslated and fuzzy entries as missing).
if ! out=$(msgcmp po/ru.po "$tmp/keys.pot" 2>&1); then
  echo "Keys without a Russian translation in po/ru.po (run scripts/update_pot.sh, then translate):"
  echo "$out" | sed -n 's/^.*keys\.pot:\([0-9]*\):.*$/\1/p' | while read -r line; do
    awk -v n="$line" 'NR <= n && /^msgid / { last = $0 } NR == n { print last }' "$tmp/keys.pot"
  done
  status=1
fi
n=$(grep -c '^msgid "' "$tmp/keys.pot")
[ $status -eq 0 ] && echo "translations complete: $((n - 1)) keys"
exit $status
