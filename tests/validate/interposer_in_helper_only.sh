#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Usage: interposer_in_helper_only.sh KVX HELPER [operator-new-only]
# The heap and lock replacements the realtime checks count with belong to the validator's helper
# alone: KVX's dynamic symbol table defines none of malloc & co, the operator new and delete
# family and the pthread lock calls, and HELPER's defines every one of them, which shows that the
# names looked for are the ones a replacement has. With operator-new-only (sanitizer builds, whose
# runtimes own malloc and the locks) the helper need define only the operator new family.
set -euo pipefail
kvx=$1
helper=$2
mode=${3:-all}
c_functions="malloc calloc realloc free memalign aligned_alloc valloc pvalloc posix_memalign
             pthread_mutex_lock pthread_mutex_trylock pthread_rwlock_rdlock pthread_rwlock_wrlock pthread_spin_lock"
# The replaceable global operator new and delete, new[] and delete[] of C++17 (plain, nothrow,
# aligned, sized), as the Itanium ABI mangles them where size_t is unsigned long.
operators="_Znwm _ZnwmRKSt9nothrow_t _ZnwmSt11align_val_t _ZnwmSt11align_val_tRKSt9nothrow_t
           _Znam _ZnamRKSt9nothrow_t _ZnamSt11align_val_t _ZnamSt11align_val_tRKSt9nothrow_t
           _ZdlPv _ZdlPvm _ZdlPvRKSt9nothrow_t _ZdlPvSt11align_val_t _ZdlPvmSt11align_val_t _ZdlPvSt11align_val_tRKSt9nothrow_t
           _ZdaPv _ZdaPvm _ZdaPvRKSt9nothrow_t _ZdaPvSt11align_val_t _ZdaPvmSt11align_val_t _ZdaPvSt11align_val_tRKSt9nothrow_t"

defined() { nm -D --defined-only "$1" | awk '{ sub(/@.*/, "", $3); print $3 }'; }
kvx_defines=$(defined "$kvx")
helper_defines=$(defined "$helper")
status=0

# Any form at all in kvx counts, not just the listed ones.
replaced=$(grep -xE "$(tr -s ' \n' '|' <<<"$c_functions" | sed 's/|$//')|_Z(nw|na|dl|da).*" <<<"$kvx_defines" || true)
if [ -n "$replaced" ]; then
    echo "$kvx defines what the interposer replaces: $(tr '\n' ' ' <<<"$replaced")"
    status=1
fi

expected=$operators
[ "$mode" = operator-new-only ] || expected="$c_functions $operators"
for name in $expected; do
    if ! grep -qx "$name" <<<"$helper_defines"; then
        echo "$helper does not define $name"
        status=1
    fi
done
[ $status -ne 0 ] || echo "the interposer's $(wc -w <<<"$expected") functions: all in the helper, none in kvx"
exit $status
