#!/usr/bin/env bash
# Each public header compiles alone (twice over, for its include guard) with nothing but the
# public tree on the include path: a public header includes only public headers.
#
#   public_headers_test.sh CXX INCLUDE_DIR
set -euo pipefail
cxx=$1 include=$2
headers=$(cd "$include" && find vantrel -name '*.h' | sort)
[ -n "$headers" ] || { echo "no public headers in $include/vantrel" >&2; exit 1; }
failed=
for header in $headers; do
  printf '#include "%s"\n#include "%s"\n' "$header" "$header" |
    "$cxx" -std=c++17 -Wall -Wextra -Werror -fsyntax-only -I "$include" -x c++ - ||
    failed+=" $header"
done
[ -z "$failed" ] || { echo "do not compile alone from $include:$failed" >&2; exit 1; }
echo "$(wc -w <<<"$headers") public headers compile alone"
