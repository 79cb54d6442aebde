#!/usr/bin/env bash
# Each room of src/ may include only rooms on its own floor or below; this lists every include
# that reaches up and fails when there is one. Floors, bottom first:
floors=(base platform protocol transport networks server client geo host)
set -euo pipefail
cd "$(dirname "$0")/../src"
level() { local i; for i in "${!floors[@]}"; do [ "${floors[$i]}" = "$1" ] && echo "$i" && return; done; echo -1; }
bad=0
for room in "${floors[@]}"; do
  mine=$(level "$room")
  while IFS= read -r line; do
    file=${line%%:*}
    target=$(sed -E 's/.*#include "([a-z]+)\/.*/\1/' <<<"$line")
    theirs=$(level "$target")
    if [ "$theirs" -gt "$mine" ]; then
      echo "$file reaches up from $room to $target: ${line#*:}"
      bad=1
    fi
  done < <(grep -rn --include='*.h' --include='*.cpp' -E '^#include "[a-z]+/' "$room" || true)
done
exit $bad
