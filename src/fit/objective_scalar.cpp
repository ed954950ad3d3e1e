// The block kernels of the fit objective one point at a time, for processors without the vector
// instruction sets: the same law and the same arithmetic as the vector kernels.
#include <tuple>

#include "fit/objective_blocks.h"

namespace tubefit {
namespace blocks {
namespace {

struct Lanes1 {
  using T = float;
  static constexpr size_t N = 1;
  static float Load(const float* p) { return *p; }
  static void Store(float* p, float x) { *p = x; }
};

}  // namespace

#include "fit/objective_kernels.inc"

template <class Law>
float SumScalar(const Columns& c, size_t begin, size_t end, bool screen, float S,
                const typename Law::template Params<float>& e) {
  return SumBlocks<Lanes1, Law>(c, begin, end, screen, S, e);
}

template <class Law>
void ControlsScalar(const Columns& keys, const typename Law::template Params<float>& e, float* out,
                    size_t stride) {
  ControlBlocks<Lanes1, Law>(keys, e, out, stride);
}

// Both kernels of this path for every law, referenced so that they are compiled here (and only here).
template <class... Law>
constexpr auto KernelsScalar(law::LawList<Law...>) {
  return std::make_tuple(&SumScalar<Law>..., &ControlsScalar<Law>...);
}
[[gnu::used]] const auto kKernelsScalar = KernelsScalar(law::AllLaws{});

}  // namespace blocks
}  // namespace tubefit
