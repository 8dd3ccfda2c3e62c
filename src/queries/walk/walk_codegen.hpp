// How the fast walk is compiled.
//
// The walk runs as one function per bound and metric: everything it calls
// per child is forced inline (KELNOR_WALK_INLINE), which spares the calls and
// lets the compiler keep a frame's fields in registers across them. Only the
// reporter, which runs once per hit, is called (hit_reporter.hpp).
//
// Where the toolchain can choose between copies of a function when the
// module is loaded (GCC 12 or later, x86-64, glibc's ifunc), that function
// is also compiled for x86-64-v3 (KELNOR_CLONED_FOR_X86_64_V3), whose bit
// instructions (BMI1, BMI2, LZCNT) and three-operand encodings shorten the
// rows' arithmetic; other processors run the baseline copy. A copy covers
// only the code inlined into it, hence the forced inlining.
#pragma once

#include <cstddef>  // defines __GLIBC__ where glibc is the C library

#define KELNOR_WALK_INLINE [[gnu::always_inline]] inline

#if defined(__x86_64__) && defined(__GLIBC__) && defined(__GNUC__) && !defined(__clang__) && \
    __GNUC__ >= 12
#define KELNOR_CLONED_FOR_X86_64_V3 __attribute__((target_clones("default", "arch=x86-64-v3")))
#else
#define KELNOR_CLONED_FOR_X86_64_V3
#endif
