# SPDX-License-Identifier: MIT
# kvx_target_options(TARGET): the flags every kvx target is built with, set on the target itself
# so that a project embedding kvx keeps its own flags.
#   -Wall -Wextra -Wpedantic   no warnings in our code
#   -ffp-contract=off          bit-exact envelopes: a fused multiply-add changes the last bits
#   -O2 unless Debug/MinSizeRel what the benchmarks measure (the later -O wins over CMake's -O3);
#                              also with no build type, so that a module built with a bare
#                              `cmake -S . -B b` is real-time code, not an unoptimised one
#                              (a sanitizer build, KVX_SANITIZE, keeps its build type's level)
#   -fno-gnu-unique (g++)      unique symbols would pin a module library in memory after dlclose
#   -fno-trapping-math         element-wise loops (a VCA's products, an instrument's mix of its
#   -fvect-cost-model=dynamic  voices) vectorised at -O2, as clang does by default: floating-point
#     (g++)                    exceptions are never looked at, and a vectorised loop does the same
#                              operations on each sample (no sum is reordered without
#                              -fassociative-math), so the bits stay the same
include_guard(GLOBAL)

function(kvx_target_options target)
  set(level $<$<NOT:$<CONFIG:Debug,MinSizeRel>>:-O2>)
  if(KVX_SANITIZE)
    set(level "")
  endif()
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -ffp-contract=off ${level}
    "$<$<CXX_COMPILER_ID:GNU>:-fno-gnu-unique;-fno-trapping-math;-fvect-cost-model=dynamic>")
endfunction()
