#!/bin/bash
# Writes the files that Markdown documents spell out, so that a build can
# compile them as they stand:
#   doc-files.sh OUT_DIR DOC.md...
# A fenced block preceded by the line "<!-- file: PATH -->" becomes
# OUT_DIR/PATH. Every other fenced block must say that it is no code
# ("```text" for output, "```console" for commands a person types); one that
# does not is an error, so that no snippet escapes the build.
set -euo pipefail
out="$1"; shift
mkdir -p "$out"
status=0
for doc in "$@"; do
    awk -v out="$out" -v doc="$doc" '
        function fail(msg) { printf "%s:%d: %s\n", doc, NR, msg > "/dev/stderr"; bad = 1 }
        /^ *<!-- file: [^ ]+ -->$/ && !inside { pending = $3; next }
        /^ *```/ {
            if (!inside) {
                inside = 1
                # A block inside a list item is indented: so are its lines.
                match($0, /^ */)
                indent = RLENGTH
                lang = substr($0, indent + 4)
                if (pending != "") {
                    if (pending ~ /(^\/|\.\.)/) fail("file name outside the folder: " pending)
                    target = out "/" pending
                    if (target in seen) fail("file written twice: " pending)
                    seen[target] = 1
                    dir = target; sub(/\/[^\/]*$/, "", dir)
                    system("mkdir -p \"" dir "\"")
                    printf "" > target
                } else {
                    target = ""
                    if (lang != "text" && lang != "console") fail("a ```" lang " block without a file name")
                }
                pending = ""
                next
            }
            inside = 0
            if (target != "") close(target)
            next
        }
        inside && target != "" { print substr($0, 1, indent) ~ /^ *$/ ? substr($0, indent + 1) : $0 > target; next }
        !inside && NF > 0 { pending = "" }
        END { if (inside) fail("unterminated block"); exit bad }
    ' "$doc" || status=1
done
exit $status
