/* A stand-in for glibc's vector math library, whose sines are off by a chosen error: placed
 * first on LD_LIBRARY_PATH, it is the libmvec the shared library loads, as another machine's
 * glibc could be. Built twice: STANDIN_ULPS raises every sine by that many units in the last
 * place (within the documented bound), STANDIN_OFFSET adds a fixed error beyond it. */
#include <math.h>
#include <stdio.h>

typedef double double2 __attribute__((vector_size(16)));
typedef double double4 __attribute__((vector_size(32)));

static double standin_sin(double x)
{
    double value = sin(x);
#if defined(STANDIN_ULPS)
    for (int i = 0; i < STANDIN_ULPS; ++i)
        value = nextafter(value, INFINITY);
#else
    value += STANDIN_OFFSET;
#endif
    return value;
}

/* Says that the stand-in, not glibc's libmvec, was loaded. */
__attribute__((constructor)) static void announce(void)
{
    fprintf(stderr, "stand-in libmvec loaded\n");
}

double2 _ZGVbN2v_sin(double2 x)
{
    double2 out;
    for (int k = 0; k < 2; ++k)
        out[k] = standin_sin(x[k]);
    return out;
}

/* GCC warns that a four-double vector is passed differently without AVX; this one is compiled
 * for AVX2, as its callers are. */
#pragma GCC diagnostic ignored "-Wpsabi"
__attribute__((target("avx2"))) double4 _ZGVdN4v_sin(double4 x)
{
    double4 out;
    for (int k = 0; k < 4; ++k)
        out[k] = standin_sin(x[k]);
    return out;
}
