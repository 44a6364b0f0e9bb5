#!/usr/bin/env bash
# Checks that an add-in library exports exactly the four entry points and depends only on system
# libraries: the Linux C library family, or Windows system DLLs. With VESKLINK_GLIBC_FLOOR set
# (the builds against the older C library), a Linux library also needs no glibc symbol version
# newer than that floor, and may take its unwinder from the system's libgcc_s.
set -euo pipefail
lib=$1
expected="DestroyObject GetClassNames GetClassObject SetPlatformCapabilities"
fail() { echo "FAIL: $lib: $*"; exit 1; }

case "$lib" in
  *.dll)
    objdump=x86_64-w64-mingw32-objdump
    dump=$($objdump -p "$lib")
    exports=$(echo "$dump" | awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/^[ \t]*\[/{print $NF} t&&/^$/{t=0}' | sort | xargs)
    [ "$exports" = "$expected" ] || fail "exports '$exports', want '$expected'"
    imports=$(echo "$dump" | awk '/DLL Name:/{print tolower($3)}' | sort -u | xargs)
    for dll in $imports; do
      case "$dll" in
        kernel32.dll|msvcrt.dll|user32.dll|shell32.dll|advapi32.dll|ole32.dll|ws2_32.dll|api-ms-win-*) ;;
        *) fail "imports non-system DLL $dll (all: $imports)" ;;
      esac
    done
    echo "ok: $lib exports: $exports; imports: $imports"
    ;;
  *.so)
    exports=$(nm -D --defined-only "$lib" | awk '$2 ~ /[TtWDdBbRrVviu]/ {print $3}' | grep -v '^$' | sort | xargs)
    [ "$exports" = "$expected" ] || fail "exports '$exports', want '$expected'"
    needed=$(objdump -p "$lib" | awk '/NEEDED/{print $2}' | sort -u | xargs)
    for so in $needed; do
      case "$so" in
        libc.so.*|libm.so.*|libdl.so.*|libpthread.so.*|librt.so.*|ld-linux*) ;;
        libgcc_s.so.1)
          [ -n "${VESKLINK_SANITIZE_BUILD:-}${VESKLINK_GLIBC_FLOOR:-}" ] || fail "depends on $so" ;;
        libasan.so.*|libubsan.so.*|libstdc++.so.*|libgcc_s.so.*)
          [ -n "${VESKLINK_SANITIZE_BUILD:-}" ] || fail "depends on $so" ;;
        *) fail "depends on non-system library $so (all: $needed)" ;;
      esac
    done
    # Each imported symbol with its version: "... (GLIBC_2.34) pthread_once".
    versions=$(objdump -T "$lib" | sed -n 's/.*[ (]\(GLIBC_[0-9.]*\))\{0,1\} \{1,\}\([^ ]*\)$/\1 \2/p')
    glibc=$(echo "$versions" | awk '{print $1}' | sort -uV | tail -n1)
    if [ -n "${VESKLINK_GLIBC_FLOOR:-}" ]; then
      floor=GLIBC_$VESKLINK_GLIBC_FLOOR
      [ -n "$glibc" ] || fail "no glibc symbol version found"
      newer=$(echo "$versions" | while read -r version symbol; do
        [ "$(printf '%s\n' "$version" "$floor" | sort -V | tail -n1)" = "$floor" ] || echo "$symbol@$version"
      done | sort -u | xargs)
      [ -z "$newer" ] || fail "needs glibc symbols newer than $floor: $newer"
    fi
    echo "ok: $lib exports: $exports; needs: $needed; newest glibc symbol version: ${glibc:-none}"
    ;;
  *) fail "unknown library type" ;;
esac
