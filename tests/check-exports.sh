#!/usr/bin/env bash
# Checks that an add-in library exports exactly the four entry points and depends only on system
# libraries: the Linux C library family, or Windows system DLLs.
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
        libasan.so.*|libubsan.so.*|libstdc++.so.*|libgcc_s.so.*)
          [ -n "${VESKLINK_SANITIZE_BUILD:-}" ] || fail "depends on $so" ;;
        *) fail "depends on non-system library $so (all: $needed)" ;;
      esac
    done
    echo "ok: $lib exports: $exports; needs: $needed"
    ;;
  *) fail "unknown library type" ;;
esac
