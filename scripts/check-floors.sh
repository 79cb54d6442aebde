#!/usr/bin/env bash
# Each room of src/ may include only rooms on its own floor or below; this lists every include
# that reaches up and fails when there is one. Floors, bottom first:
floors=(base platform protocol transport networks server client geo host)
set -euo pipefail
cd "$(dirname "$0")/../src"
# One pass over every include line; a process for each line made this the slowest test.
{ grep -rn --include='*.h' --include='*.cpp' -E '^#include "[a-z]+/' "${floors[@]}" || true; } |
  awk -v floors="${floors[*]}" '
    BEGIN { count = split(floors, names, " "); for (i = 1; i <= count; i++) level[names[i]] = i }
    {
      file = $0; sub(/:.*/, "", file)
      room = file; sub(/\/.*/, "", room)
      where = $0; sub(/^[^:]*:/, "", where)
      target = $0; sub(/.*#include "/, "", target); sub(/\/.*/, "", target)
      if ((target in level) && level[target] > level[room]) {
        printf "%s reaches up from %s to %s: %s\n", file, room, target, where
        bad = 1
      }
    }
    END { exit bad }'
