// The block kernels of the fit objective for AVX-512 (16 floats per vector, fit/lanes_avx512.h). This file is
// compiled with -mavx512f and called only after the processor has been found to support it.
#include "fit/lanes_avx512.h"
#include "fit/objective_blocks.h"

namespace tubefit {
namespace blocks {

#include "fit/objective_kernels.inc"

template <class Law>
float SumAvx512(const Columns& c, size_t begin, size_t end, bool screen, float S,
                const typename Law::template Params<float>& e) {
  return SumBlocks<Lanes16, Law>(c, begin, end, screen, S, e);
}

#define TUBEFIT_SUM_AVX512(Law) \
  template float SumAvx512<Law>(const Columns&, size_t, size_t, bool, float, const Law::Params<float>&);
TUBEFIT_FOR_EACH_LAW(TUBEFIT_SUM_AVX512)

template <class Law>
void ControlsAvx512(const Columns& keys, const typename Law::template Params<float>& e, float* out,
                    size_t stride) {
  ControlBlocks<Lanes16, Law>(keys, e, out, stride);
}

#define TUBEFIT_CONTROLS_AVX512(Law) \
  template void ControlsAvx512<Law>(const Columns&, const Law::Params<float>&, float*, size_t);
TUBEFIT_FOR_EACH_LAW(TUBEFIT_CONTROLS_AVX512)

}  // namespace blocks
}  // namespace tubefit
