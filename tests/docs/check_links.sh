#!/usr/bin/env bash
# Every relative link and heading anchor in README.md and docs/*.md leads somewhere: a file of the
# repository, a heading of that file or of the same one. Checked offline by remark with
# remark-validate-links (installed from package-lock.json into tests/docs/node_modules by
# scripts/bootstrap); links to other hosts are not followed. Any broken link or anchor fails the check, each
# named with its file, line and column.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
if [ ! -x "$here/node_modules/.bin/remark" ]; then
    echo "check_links: remark is not installed in $here/node_modules: run scripts/bootstrap" >&2
    exit 1
fi
cd "$root"
documents=(README.md docs/*.md)
# --frail: a warning fails the run too; --no-stdout: nothing but the findings is printed;
# --no-config and --no-ignore: no settings file anywhere in the tree changes what is checked.
# repository:false: the links are the files of this tree, whatever remote the clone has (or
# none); the tree's root is the folder the check runs in.
"$here/node_modules/.bin/remark" --frail --quiet --no-stdout --no-config --no-ignore \
    --use "$here/node_modules/remark-validate-links/index.js=repository:false" "${documents[@]}"
echo "check_links: every relative link and anchor of ${#documents[@]} documents resolves"
