#!/usr/bin/env bash
# Writes the template of every catalog key used by the program to $1.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$1
git ls-files -co --exclude-standard -- 'app/*.cpp' 'app/*.h' 'ui/*.cpp' 'ui/*.h' 'ops/*.cpp' 'ops/*.h' \
    'settings/*.cpp' 'settings/*.h' 'firmware/*.cpp' 'firmware/*.h' 'port/*.cpp' 'protocol/*.cpp' |
  sort | xgettext --files-from=- --language=C++ --keyword= --keyword=tr --from-code=UTF-8 \
    --sort-output --no-wrap --package-name=vantorix_v3 --msgid-bugs-address= \
    --omit-header -o "$out.tmp"
{
  printf 'msgid ""\nmsgstr ""\n"Project-Id-Version: vantorix_v3\\n"\n"MIME-Version: 1.0\\n"\n"Content-Type: text/plain; charset=UTF-8\\n"\n"Content-Transfer-Encoding: 8bit\\n"\n\n'
  [ -f "$out.tmp" ] && cat "$out.tmp"
} >"$out"
rm -f "$out.tmp"
