#!/usr/bin/env bash
# The system's calls and errno stay below text: the layers above it call
# text's file API (text/file_calls.h, text/files.h), which names the file
# and the reason in every failure and retries interrupted calls in one place.
# Fails, listing them, when a file of those layers calls platform::os() or
# reads errno.
#
# Usage: layers_above_text.sh SRC_DIR
set -euo pipefail
src=$1
layers=(scan categories convert run preview)
for layer in "${layers[@]}"; do
  [[ -d $src/$layer ]] || { echo "FAIL: no $src/$layer" >&2; exit 1; }
done
cd "$src"
# grep finding nothing is the good case.
found=$(grep -rnE '(^|[^[:alnum:]_])(platform::)?os\(\)|(^|[^[:alnum:]_])errno([^[:alnum:]_]|$)' "${layers[@]}" ||
  true)
if [[ -n $found ]]; then
  echo "FAIL: above text, call text's file API instead of the system's calls:" >&2
  echo "$found" >&2
  exit 1
fi
echo "layers above text: no platform::os() and no errno in ${layers[*]}"
