# kvx_target_options(TARGET): the flags every kvx target is built with, set on the target itself
# so that a project embedding kvx keeps its own flags.
#   -Wall -Wextra -Wpedantic   no warnings in our code
#   -ffp-contract=off          bit-exact envelopes: a fused multiply-add changes the last bits
#   -O2 in optimised builds    what the benchmarks measure (the later -O wins over CMake's -O3)
#   -fno-gnu-unique (g++)      unique symbols would pin a module library in memory after dlclose
function(kvx_target_options target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -ffp-contract=off
    $<$<CONFIG:Release,RelWithDebInfo>:-O2>
    $<$<CXX_COMPILER_ID:GNU>:-fno-gnu-unique>)
endfunction()
