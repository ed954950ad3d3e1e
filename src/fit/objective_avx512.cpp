// The block kernels of the fit objective for AVX-512 (16 floats per vector, fit/lanes_avx512.h). This file is
// compiled with -mavx512f and called only after the processor has been found to support it.
#include <tuple>

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

template <class Law>
void ControlsAvx512(const Columns& keys, const typename Law::template Params<float>& e, float* out,
                    size_t stride) {
  ControlBlocks<Lanes16, Law>(keys, e, out, stride);
}

// Both kernels of this path for every law, referenced so that they are compiled here (and only here).
template <class... Law>
constexpr auto KernelsAvx512(law::LawList<Law...>) {
  return std::make_tuple(&SumAvx512<Law>..., &ControlsAvx512<Law>...);
}
[[gnu::used]] const auto kKernelsAvx512 = KernelsAvx512(law::AllLaws{});

}  // namespace blocks
}  // namespace tubefit
