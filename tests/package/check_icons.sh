#!/usr/bin/env bash
# The committed .ico files are what resources/icons/make-icons makes of the artwork today: an
# edited SVG whose .ico was not regenerated fails here. Exit 77 (skipped) without the tools.
set -euo pipefail
icons=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../resources/icons" && pwd)
for tool in rsvg-convert icotool; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
made=$(mktemp -d)
trap 'rm -rf "$made"' EXIT
"$icons/make-icons" "$made"
status=0
for ico in "$made"/*.ico; do
    name=$(basename "$ico")
    if cmp -s "$ico" "$icons/$name"; then
        echo "ok: $name matches its artwork"
    else
        echo "FAIL: resources/icons/$name differs from its artwork; run resources/icons/make-icons"
        status=1
    fi
done
exit $status
