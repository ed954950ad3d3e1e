// The block kernels of the fit objective for AVX2 (8 floats per vector, fit/lanes_avx2.h). This file is
// compiled with -mavx2 -mfma and called only after the processor has been found to support it.
#include "fit/lanes_avx2.h"
#include "fit/objective_blocks.h"

namespace tubefit {
namespace blocks {

#include "fit/objective_kernels.inc"

template <class Law>
float SumAvx2(const Columns& c, size_t begin, size_t end, bool screen, float S,
              const typename Law::template Params<float>& e) {
  return SumBlocks<Lanes8, Law>(c, begin, end, screen, S, e);
}

#define TUBEFIT_SUM_AVX2(Law) \
  template float SumAvx2<Law>(const Columns&, size_t, size_t, bool, float, const Law::Params<float>&);
TUBEFIT_FOR_EACH_LAW(TUBEFIT_SUM_AVX2)

template <class Law>
void ControlsAvx2(const Columns& keys, const typename Law::template Params<float>& e, float* out,
                    size_t stride) {
  ControlBlocks<Lanes8, Law>(keys, e, out, stride);
}

#define TUBEFIT_CONTROLS_AVX2(Law) \
  template void ControlsAvx2<Law>(const Columns&, const Law::Params<float>&, float*, size_t);
TUBEFIT_FOR_EACH_LAW(TUBEFIT_CONTROLS_AVX2)

}  // namespace blocks
}  // namespace tubefit
