// SPDX-License-Identifier: MIT
// A stretch of code compiled for an instruction set beyond the build's
// baseline, picked at run time: PIXLOOM_TARGET_BEGIN("avx2") ...
// PIXLOOM_TARGET_END. Internal to resample/.
#pragma once

#define PIXLOOM_PRAGMA(text) _Pragma(#text)
#if defined(__clang__)
#define PIXLOOM_TARGET_BEGIN(isa) PIXLOOM_PRAGMA(clang attribute push(__attribute__((target(isa))), apply_to = function))
#define PIXLOOM_TARGET_END PIXLOOM_PRAGMA(clang attribute pop)
#else
#define PIXLOOM_TARGET_BEGIN(isa) PIXLOOM_PRAGMA(GCC push_options) PIXLOOM_PRAGMA(GCC target(isa))
#define PIXLOOM_TARGET_END PIXLOOM_PRAGMA(GCC pop_options)
#endif

#define PIXLOOM_AVX2 "avx2"
#define PIXLOOM_AVX512 "avx512f,avx512dq,avx512bw,avx512vl"
