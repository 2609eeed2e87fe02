#include "InlineDisplay.h"

#include <cstring>

static_assert(std::atomic<double>::is_always_lock_free, "the audio thread must not lock");

void InlineDisplay::FindHostFeature(const LV2_Feature* const* features) {
  queueDraw_ = nullptr;
  for (int i = 0; features && features[i]; ++i) {
    const LV2_Feature* f = features[i];
    if (f->URI && std::strcmp(f->URI, KESTRUNE_INLINEDISPLAY__queue_draw) == 0 && f->data) {
      auto* q = static_cast<const InlineDisplayQueueDraw*>(f->data);
      if (q->queue_draw) queueDraw_ = q;
    }
  }
}

void InlineDisplay::MeterChanged(double meterValue) {
  meterValue_.store(meterValue, std::memory_order_relaxed);
  if (!queueDraw_) return;
  if (meter_.FrameFor(meterValue) == drawnFrame_.load(std::memory_order_relaxed)) return;
  // One request until the host has rendered: it may take many blocks.
  if (drawQueued_.exchange(true, std::memory_order_acq_rel)) return;
  queueDraw_->queue_draw(queueDraw_->handle);
}

InlineDisplayImageSurface* InlineDisplay::Render(uint32_t maxWidth, uint32_t maxHeight) {
  const double value = meterValue_.load(std::memory_order_relaxed);
  // Cleared before drawing: a change while drawing asks for the next render.
  drawQueued_.store(false, std::memory_order_release);
  drawnFrame_.store(meter_.FrameFor(value), std::memory_order_relaxed);
  const int width = static_cast<int>(maxWidth > InlineMeter::kMaxSide ? InlineMeter::kMaxSide
                                                                       : maxWidth);
  const int height = static_cast<int>(maxHeight > InlineMeter::kMaxSide ? InlineMeter::kMaxSide
                                                                         : maxHeight);
  if (!meter_.Render(value, width, height)) return nullptr;
  surface_.data = reinterpret_cast<unsigned char*>(meter_.Pixels());
  surface_.width = meter_.Width();
  surface_.height = meter_.Height();
  surface_.stride = meter_.RowSpan() * 4;
  return &surface_;
}
