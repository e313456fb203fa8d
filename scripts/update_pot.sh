#!/usr/bin/env bash
# Extracts every tr("...") key of the sources into po/vantorix_v3.pot and
# merges the new keys into po/ru.po (new keys arrive untranslated).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/extract_keys.sh po/vantorix_v3.pot
msgmerge --quiet --update --backup=none --no-fuzzy-matching po/ru.po po/vantorix_v3.pot
