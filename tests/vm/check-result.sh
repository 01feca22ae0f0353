#!/usr/bin/env bash
# One guest check as a test: the result run-guest.sh wrote for it. Exit 0 PASS, 1 FAIL, 77 SKIP.
# Usage: check-result.sh OUT CHECK
file=$1/results/$2
if [ ! -f "$file" ]; then
  echo "FAIL: no result for $2 in $1 (the guest run did not happen)"
  exit 1
fi
cat "$file"
case $(head -1 "$file") in
PASS*) exit 0 ;;
SKIP*) exit 77 ;;
*) exit 1 ;;
esac
