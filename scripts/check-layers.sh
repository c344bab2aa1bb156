#!/usr/bin/env bash
# Refuses an include that runs upward between the layers of src/:
#   app → discovery → timeseries → outside → console → core
# A file may include its own folder and the folders below it, never one above.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

layers=(core console outside timeseries discovery app)
rank() {
  local i
  for i in "${!layers[@]}"; do
    [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }
  done
  echo -1
}

status=0
for file in $(git ls-files 'src/*.cpp' 'src/*.hpp' 'src/*.in' 2>/dev/null || find src -type f); do
  folder=$(echo "$file" | cut -d/ -f2)
  own=$(rank "$folder")
  if [ "$own" -lt 0 ]; then
    echo "$file: pasta que não é uma camada (${layers[*]})"
    status=1
    continue
  fi
  while IFS= read -r included; do
    target=$(rank "${included%%/*}")
    if [ "$target" -gt "$own" ]; then
      echo "$file: inclui $included, de uma camada acima de $folder"
      status=1
    fi
  done < <(sed -n 's/^#include "\([a-z_]*\/[^"]*\)".*/\1/p' "$file")
done
[ $status -eq 0 ] && echo "Camadas em ordem: ${layers[*]}"
exit $status
