// The gain-reduction meter in a host's mixer strip: one render of the
// editor's VU filmstrip at host widths from a narrow strip to a wide one,
// the meter moving between calls as it does while audio plays. The budget is
// 1 ms per render on the host's GUI thread.
#include <benchmark/benchmark.h>

#include "IGraphicsOffscreen.h"
#include "InlineMeter.h"

namespace {

void InlineDisplayRender(benchmark::State& state) {
  IGraphicsOffscreen editor(nullptr, 1, 1, 25);
  InlineMeter meter(editor.LoadImage(107, "resources/img/VU.png", 61));
  const int width = static_cast<int>(state.range(0));
  if (!meter.Render(0.0, width, 1024)) {  // decodes the image, sizes the buffers
    state.SkipWithError("the meter image did not draw");
    return;
  }
  double value = 0.0;
  for (auto _ : state) {
    value = value >= 1.0 ? 0.0 : value + 1.0 / 60;
    meter.Render(value, width, 1024);
    benchmark::DoNotOptimize(meter.Pixels()[0]);
  }
  state.counters["height"] = meter.Height();
}
BENCHMARK(InlineDisplayRender)->Arg(60)->Arg(120)->Arg(174)->Arg(300)->Unit(benchmark::kMicrosecond);

}  // namespace
