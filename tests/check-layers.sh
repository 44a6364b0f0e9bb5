#!/usr/bin/env bash
# The driver's layers include only downwards: component/ may use operations/, operations/ may use
# protocol/, serial/, log/ and util/; none of those lower folders may include from component/ or
# operations/, and operations/ may not include from component/. Prints every include that points
# back up and fails when there is one.
set -u
src="${1:?usage: check-layers.sh SRC_FOLDER}"
status=0
check() {  # folder, the folders it must not include from
    local folder="$1" forbidden="$2" hits
    [ -d "$src/$folder" ] || return 0
    hits=$(grep -RnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*\"($forbidden)/" "$src/$folder" || true)
    if [ -n "$hits" ]; then
        echo "$folder/ includes from a layer above it:"
        echo "$hits"
        status=1
    fi
}
for lower in protocol serial log util; do check "$lower" "component|operations"; done
check operations component
[ "$status" -eq 0 ] && echo "includes point downwards only"
exit "$status"
