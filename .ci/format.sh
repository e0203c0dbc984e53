#!/usr/bin/env bash
# The sources follow .clang-format: fails, listing the files, when any would change.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
if ! command -v clang-format >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends clang-format
fi
mapfile -t sources < <(git ls-files '*.cpp' '*.h')
if ! clang-format --dry-run -Werror "${sources[@]}" 2>/tmp/drelk-format.log; then
  grep -o '^[^:]*:' /tmp/drelk-format.log | sort -u | sed 's/:$//; s/^/  /'
  echo "format: these files differ from .clang-format (run: git ls-files '*.cpp' '*.h' | xargs clang-format -i)"
  exit 1
fi
echo "format: ${#sources[@]} files as .clang-format wants them"
