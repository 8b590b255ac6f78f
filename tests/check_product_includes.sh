#!/usr/bin/env bash
# Fails when a product source includes a system header other than the freestanding three.
cd "$1" || exit 2
bad=$(grep -rnE '^\s*#\s*include\s*<' uefi app shell diag platform main 2>/dev/null |
      grep -vE '<(stdint|stddef|stdarg)\.h>')
if [ -n "$bad" ]; then
  echo "product code includes hosted headers:"; echo "$bad"; exit 1
fi
echo "product includes: freestanding only"
