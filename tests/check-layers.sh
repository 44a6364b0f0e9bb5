#!/usr/bin/env bash
# Each folder of the driver's sources includes only from itself and from the folders that its row
# of the source-layout table in README.md allows ("may include"; "nothing of the driver" allows
# none). The table is read from the README, so the two cannot drift apart: a folder of src/
# without a row fails, and so does a row without its folder. Prints every include that its row
# does not allow and fails when there is one.
#   check-layers.sh SRC_FOLDER [README]     (README defaults to SRC_FOLDER/../README.md)
set -u
src="${1:?usage: check-layers.sh SRC_FOLDER [README]}"
readme="${2:-$src/../README.md}"
[ -r "$readme" ] || { echo "no README at $readme"; exit 1; }

# "folder allowed..." per row: | `src/protocol/` | ... | `serial/`, `util/` |; the tools' shared
# folder `common/` beside src/ has its row too.
rows=$(awk -F'|' '$2 ~ /^ *`(src\/)?[a-z_]+\/` *$/ {
    folder = $2; gsub(/[ `]|src\/|\//, "", folder)
    cell = $(NF - 1); allowed = ""
    while (match(cell, /`[a-z_]+\/`/)) {
        allowed = allowed " " substr(cell, RSTART + 1, RLENGTH - 3)
        cell = substr(cell, RSTART + RLENGTH)
    }
    print folder, allowed
}' "$readme")
[ -n "$rows" ] || { echo "$readme has no source-layout table"; exit 1; }

status=0
declare -A allows
while read -r folder allowed; do
    allows[$folder]=" $folder $allowed "
    [ -d "$src/$folder" ] || [ -d "$src/../$folder" ] ||
        { echo "README names $folder/, which does not exist"; status=1; }
done <<< "$rows"

for dir in "$src"/*/ "$src/../common/"; do
    folder=$(basename "$dir")
    if [ -z "${allows[$folder]+set}" ]; then
        echo "src/$folder/ has no row in the README's source-layout table"
        status=1
        continue
    fi
    # Includes that name a folder of the driver: "folder/file.h".
    while IFS=: read -r file line target; do
        included=${target%%/*}
        [ -d "$src/$included" ] || continue
        if [[ ${allows[$folder]} != *" $included "* ]]; then
            echo "$folder/ may not include from $included/: ${file#"$src"/}:$line"
            status=1
        fi
    done < <(grep -rnoE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[a-z_]+/[^"]+"' "$dir" |
             sed -E 's/:[[:space:]]*#[[:space:]]*include[[:space:]]*"/:/; s/"$//')
done
[ "$status" -eq 0 ] && echo "every include is one its folder's row in the README allows"
exit "$status"
