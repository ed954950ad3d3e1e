// Stand-ins for the sparse (SuiteSparse CHOLMOD, CXSparse) and LAPACK back ends that Debian's static Ceres
// library refers to. The Levenberg-Marquardt fit uses only Ceres' dense QR solver with Eigen, so none of them
// is ever called; defining them here keeps those libraries, and the BLAS, Fortran and OpenMP run-times they
// bring, out of the program, which then starts without loading them. Linked only into programs, after Ceres.
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void NotBuiltIn(const char* name) {
  std::fprintf(stderr, "Internal error: %s of a linear-algebra back end that this build leaves out\n", name);
  std::abort();
}

}  // namespace

#define TUBEFIT_ABSENT(name) \
  extern "C" void name() { NotBuiltIn(#name); }

TUBEFIT_ABSENT(cholmod_amd)
TUBEFIT_ABSENT(cholmod_analyze)
TUBEFIT_ABSENT(cholmod_analyze_p)
TUBEFIT_ABSENT(cholmod_camd)
TUBEFIT_ABSENT(cholmod_factorize)
TUBEFIT_ABSENT(cholmod_finish)
TUBEFIT_ABSENT(cholmod_free_dense)
TUBEFIT_ABSENT(cholmod_free_factor)
TUBEFIT_ABSENT(cholmod_free_sparse)
TUBEFIT_ABSENT(cholmod_print_common)
TUBEFIT_ABSENT(cholmod_solve)
TUBEFIT_ABSENT(cholmod_start)
TUBEFIT_ABSENT(cholmod_triplet_to_sparse)
TUBEFIT_ABSENT(cholmod_zeros)
TUBEFIT_ABSENT(cs_di_amd)
TUBEFIT_ABSENT(cs_di_calloc)
TUBEFIT_ABSENT(cs_di_chol)
TUBEFIT_ABSENT(cs_di_cholsol)
TUBEFIT_ABSENT(cs_di_compress)
TUBEFIT_ABSENT(cs_di_counts)
TUBEFIT_ABSENT(cs_di_cumsum)
TUBEFIT_ABSENT(cs_di_etree)
TUBEFIT_ABSENT(cs_di_free)
TUBEFIT_ABSENT(cs_di_ipvec)
TUBEFIT_ABSENT(cs_di_lsolve)
TUBEFIT_ABSENT(cs_di_ltsolve)
TUBEFIT_ABSENT(cs_di_malloc)
TUBEFIT_ABSENT(cs_di_multiply)
TUBEFIT_ABSENT(cs_di_nfree)
TUBEFIT_ABSENT(cs_di_pinv)
TUBEFIT_ABSENT(cs_di_post)
TUBEFIT_ABSENT(cs_di_pvec)
TUBEFIT_ABSENT(cs_di_schol)
TUBEFIT_ABSENT(cs_di_sfree)
TUBEFIT_ABSENT(cs_di_spfree)
TUBEFIT_ABSENT(cs_di_symperm)
TUBEFIT_ABSENT(cs_di_transpose)
TUBEFIT_ABSENT(dgeqrf_)
TUBEFIT_ABSENT(dormqr_)
TUBEFIT_ABSENT(dpotrf_)
TUBEFIT_ABSENT(dpotrs_)
TUBEFIT_ABSENT(dtrtrs_)
