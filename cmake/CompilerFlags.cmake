# Warnings and the floating-point rules every target follows.
#
# The core must give the same bits on every build and architecture: no
# contraction of multiply-adds into fused ones (GCC fuses by default where
# the target has FMA), no fast-math, no excess precision on x87.
function(glidescape_target_flags target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wvla
    -ffp-contract=off -fno-fast-math)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "i[3-6]86" OR CMAKE_CXX_COMPILER MATCHES "i686")
    # 32-bit x86: keep doubles in SSE registers so results match x86-64.
    target_compile_options(${target} PRIVATE -msse2 -mfpmath=sse)
  endif()
  if(EMSCRIPTEN)
    # WebAssembly's fixed-width SIMD (128-bit lanes): the compiler vectorises
    # the same operations, each lane rounding as the scalar one would. Never
    # relaxed SIMD, whose results may differ from one browser to the next.
    # Link-time optimisation: the page is one module, inlined across the
    # libraries at its link (web/CMakeLists.txt); WebAssembly has no fused
    # multiply-add outside relaxed SIMD, so no contraction can appear there.
    target_compile_options(${target} PRIVATE -msimd128 -flto)
  endif()
  if(GLIDESCAPE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
