// The gain-reduction meter in a host's mixer strip (the inline display): what
// it draws at the sizes a host offers, that redrawing allocates nothing, and
// that the host is asked to redraw only when the picture changes.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>


#include "IGraphicsOffscreen.h"
#include "InlineDisplay.h"
#include "Lv2UridMap.h"
#include "PIX_Bitmap.h"

// Every allocation of this test program is counted. All the plain and
// nothrow forms are replaced together, so each allocation and its release
// meet in the same allocator (the sanitizers check that they match).
static std::atomic<long> gAllocations{0};
__attribute__((noinline)) static void* CountedAllocation(size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size ? size : 1);
}
void* operator new(size_t size) {
  if (void* p = CountedAllocation(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return CountedAllocation(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return CountedAllocation(size); }
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete[](void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, size_t) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

// Three 16 x 8 frames; in frame k a pixel's red is k * 40 + x, green 8 * y,
// blue 255 - x, and alpha 255 except a half-transparent left column.
std::unique_ptr<PIX_MemBitmap> PatternStrip() {
  auto strip = std::make_unique<PIX_MemBitmap>();
  strip->Resize(16, 24);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 16; ++x)
      strip->Row(y)[x] = ArgbColor(x == 0 ? 128 : 255, (y / 8 + 1) * 40 + x, 8 * (y % 8), 255 - x)
                             .ToPixel();
  return strip;
}

BitmapRef Ref(PIX_IBitmap* bitmap, int frames) {
  BitmapRef ref;
  ref.bitmap = bitmap;
  ref.width = bitmap->Width();
  ref.height = bitmap->Height();
  ref.frameCount = frames;
  return ref;
}

uint32_t Premultiplied(uint32_t p) {
  const uint32_t a = p >> 24;
  auto c = [&](int shift) { return (((p >> shift) & 255) * a + 127) / 255; };
  return (a << 24) | (c(16) << 16) | (c(8) << 8) | c(0);
}

TEST(InlineDisplayPicture, TheMeterFrameAtTheHostWidthPremultipliedAndInProportion) {
  auto strip = PatternStrip();
  InlineMeter meter(Ref(strip.get(), 3));

  // The host's width is the filmstrip's: the middle frame, unscaled.
  ASSERT_TRUE(meter.Render(0.5, 16, 100));
  ASSERT_EQ(meter.Width(), 16);
  ASSERT_EQ(meter.Height(), 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x)
      ASSERT_EQ(meter.Pixels()[y * meter.RowSpan() + x], Premultiplied(strip->Row(8 + y)[x]))
          << x << "," << y;

  // Half the width: half the height, each pixel the rounded mean of 2 x 2
  // premultiplied pixels of the last frame.
  ASSERT_TRUE(meter.Render(1.0, 8, 100));
  ASSERT_EQ(meter.Width(), 8);
  ASSERT_EQ(meter.Height(), 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) {
      uint32_t expected = 0;
      for (int shift = 0; shift < 32; shift += 8) {
        int sum = 0;
        for (int j = 0; j < 2; ++j)
          for (int i = 0; i < 2; ++i)
            sum += (Premultiplied(strip->Row(16 + 2 * y + j)[2 * x + i]) >> shift) & 255;
        expected |= static_cast<uint32_t>((sum + 2) / 4) << shift;
      }
      ASSERT_EQ(meter.Pixels()[y * meter.RowSpan() + x], expected) << x << "," << y;
    }

  // A host allowing less height keeps the proportions: 8 x 4 centred in
  // the host's 16, clear on both sides.
  ASSERT_TRUE(meter.Render(1.0, 16, 4));
  ASSERT_EQ(meter.Width(), 16);
  ASSERT_EQ(meter.Height(), 4);
  EXPECT_EQ(meter.Pixels()[0], 0u);
  EXPECT_EQ(meter.Pixels()[3 * 16 + 15], 0u);
  EXPECT_NE(meter.Pixels()[4], 0u);

  // Too small to show anything.
  EXPECT_FALSE(meter.Render(1.0, 16, 2));
}

TEST(InlineDisplayPicture, RedrawingTheEditorsMeterAtSizesDrawnBeforeAllocatesNothing) {
  IGraphicsOffscreen editor(nullptr, 1, 1, 25);
  BitmapRef vu = editor.LoadImage(107, "resources/img/VU.png", 61);
  ASSERT_TRUE(vu.bitmap);
  InlineMeter meter(vu);
  ASSERT_TRUE(meter.Render(0.0, 120, 200));  // decodes the image
  EXPECT_EQ(meter.Height(), 66);             // 120 * 95 / 174
  const std::vector<uint32_t> resting(meter.Pixels(), meter.Pixels() + 120 * 66);
  ASSERT_TRUE(meter.Render(0.0, 60, 200));
  const long before = gAllocations.load();
  ASSERT_TRUE(meter.Render(0.0, 120, 200));
  ASSERT_TRUE(meter.Render(0.7, 120, 200));
  ASSERT_TRUE(meter.Render(0.3, 60, 200));
  EXPECT_EQ(gAllocations.load() - before, 0);
  ASSERT_TRUE(meter.Render(0.7, 120, 200));
  EXPECT_NE(std::vector<uint32_t>(meter.Pixels(), meter.Pixels() + 120 * 66), resting)
      << "the needle did not move";
}

struct QueueDrawHost {
  int requests = 0;
  InlineDisplayQueueDraw feature{this, [](void* h) { ++static_cast<QueueDrawHost*>(h)->requests; }};
  LV2_Feature lv2Feature{KESTRUNE_INLINEDISPLAY__queue_draw, &feature};
  const LV2_Feature* list[2] = {&lv2Feature, nullptr};
};

TEST(InlineDisplayRedraw, TheHostIsAskedOnceWhenTheMeterMovedAndNeverWithoutItsFeature) {
  auto strip = PatternStrip();
  QueueDrawHost host;
  InlineDisplay display(Ref(strip.get(), 3));
  display.FindHostFeature(host.list);
  ASSERT_NE(display.Render(64, 64), nullptr);  // draws frame 1 (value 0)
  display.MeterChanged(0.1);                    // still frame 1
  EXPECT_EQ(host.requests, 0);
  display.MeterChanged(0.5);
  display.MeterChanged(0.9);  // the host has not rendered yet
  EXPECT_EQ(host.requests, 1);
  InlineDisplayImageSurface* surface = display.Render(64, 64);
  ASSERT_NE(surface, nullptr);
  EXPECT_EQ(surface->width, 64);
  EXPECT_EQ(surface->height, 32);
  EXPECT_EQ(surface->stride, 256);
  display.MeterChanged(1.0);  // frame 3, as drawn
  EXPECT_EQ(host.requests, 1);
  display.MeterChanged(0.0);
  EXPECT_EQ(host.requests, 2);

  InlineDisplay unasked(Ref(strip.get(), 3));
  const LV2_Feature* none[] = {nullptr};
  unasked.FindHostFeature(none);
  unasked.MeterChanged(1.0);  // must not call through a missing feature
  EXPECT_FALSE(unasked.HostDraws());
}

// The built plug-in in a host that draws inline displays: the extension is
// offered, the first picture comes at the host's width, and compressing
// audio asks for one redraw (not one per block) whose picture differs.
TEST(InlineDisplayRedraw, TheBuiltPluginAsksOnceForARedrawWhenItCompressesAndDrawsTheNewMeter) {
  void* module = dlopen(KESTRUNE_LV2_MODULE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_TRUE(module) << dlerror();
  auto entry = reinterpret_cast<const LV2_Descriptor* (*)(uint32_t)>(dlsym(module, "lv2_descriptor"));
  ASSERT_TRUE(entry);
  const LV2_Descriptor* plugin = entry(0);
  auto* display = static_cast<const InlineDisplayInterface*>(
      plugin->extension_data(KESTRUNE_INLINEDISPLAY__interface));
  ASSERT_TRUE(display && display->render);

  host::Lv2UridMap urids;
  QueueDrawHost host;
  const LV2_Feature* features[] = {&urids.mapFeature, &host.lv2Feature, nullptr};
  LV2_Handle instance = plugin->instantiate(plugin, 48000, KESTRUNE_LV2_BUNDLE, features);
  ASSERT_TRUE(instance);

  constexpr int kFrames = 512;
  std::vector<float> tone(kFrames), out[2] = {std::vector<float>(kFrames), std::vector<float>(kFrames)};
  float input = 40, gainReduction = 0;
  for (uint32_t port = 0; port < 4; ++port) plugin->connect_port(instance, port, tone.data());
  plugin->connect_port(instance, 4, out[0].data());
  plugin->connect_port(instance, 5, out[1].data());
  plugin->connect_port(instance, 6, &input);  // INPUT
  plugin->connect_port(instance, 20, &gainReduction);
  plugin->activate(instance);

  InlineDisplayImageSurface* surface = display->render(instance, 100, 200);
  ASSERT_TRUE(surface);
  EXPECT_EQ(surface->width, 100);
  EXPECT_EQ(surface->height, 55);  // 100 * 95 / 174
  const std::vector<unsigned char> before(surface->data, surface->data + 55 * surface->stride);
  for (int block = 0; block < 40; ++block) {
    for (int f = 0; f < kFrames; ++f)
      tone[f] = 0.9f * static_cast<float>(std::sin(0.05 * (block * kFrames + f)));
    plugin->run(instance, kFrames);
  }
  EXPECT_GT(gainReduction, 3.0f);
  EXPECT_EQ(host.requests, 1);
  surface = display->render(instance, 100, 200);
  ASSERT_TRUE(surface);
  EXPECT_NE(std::vector<unsigned char>(surface->data, surface->data + 55 * surface->stride), before);
  plugin->deactivate(instance);
  plugin->cleanup(instance);
}

}  // namespace
