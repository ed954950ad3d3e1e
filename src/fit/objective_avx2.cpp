// The block kernels of the fit objective for AVX2 (8 floats per vector, fit/lanes_avx2.h). This file is
// compiled with -mavx2 -mfma and called only after the processor has been found to support it.
#include <tuple>

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

template <class Law>
void ControlsAvx2(const Columns& keys, const typename Law::template Params<float>& e, float* out,
                    size_t stride) {
  ControlBlocks<Lanes8, Law>(keys, e, out, stride);
}

// Both kernels of this path for every law, referenced so that they are compiled here (and only here).
template <class... Law>
constexpr auto KernelsAvx2(law::LawList<Law...>) {
  return std::make_tuple(&SumAvx2<Law>..., &ControlsAvx2<Law>...);
}
[[gnu::used]] const auto kKernelsAvx2 = KernelsAvx2(law::AllLaws{});

}  // namespace blocks
}  // namespace tubefit
