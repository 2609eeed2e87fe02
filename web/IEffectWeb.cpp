#include "IEffectWeb.h"

#include <cmath>

#include "IGraphicsOffscreen.h"

namespace {

// The link of an instance without an editor: no window and no controls. Its being attached is
// what makes the base hand the signal path the meter's feed.
class PageLink : public IEditorLink {};

}  // namespace

IEffectWeb::IEffectWeb(int apiNumber, const EffectIdentity& identity)
    : IEffectHeadless(apiNumber, identity) {}

IEffectWeb::~IEffectWeb() = default;

bool IEffectWeb::Prepare(double sampleRate, int maxFrames, bool offline) {
  if (!std::isfinite(sampleRate) || sampleRate <= 0 || maxFrames < 1 || maxFrames > kMaxFrames)
    return false;
  PlugLockGuard guard(*this);
  for (auto& buffer : inputs_) buffer.assign(static_cast<size_t>(maxFrames), 0.0f);
  for (auto& buffer : outputs_) buffer.assign(static_cast<size_t>(maxFrames), 0.0f);
  maxFrames_ = maxFrames;
  offline_ = offline;
  SetSampleRate(sampleRate);
  ChangeBlockSize(maxFrames);
  ResetProcessing();
  return true;
}

bool IEffectWeb::Process(int frames) {
  if (frames < 0 || frames > maxFrames_) return false;
  const float* inputs[4] = {inputs_[0].data(), inputs_[1].data(), inputs_[2].data(),
                            inputs_[3].data()};
  float* outputs[2] = {outputs_[0].data(), outputs_[1].data()};
  ProcessHostBlock(inputs, 4, outputs, 2, frames);
  return true;
}

float* IEffectWeb::InputBuffer(int channel) {
  if (channel < 0 || channel >= 4 || inputs_[channel].empty()) return nullptr;
  return inputs_[channel].data();
}

float* IEffectWeb::OutputBuffer(int channel) {
  if (channel < 0 || channel >= 2 || outputs_[channel].empty()) return nullptr;
  return outputs_[channel].data();
}

bool IEffectWeb::TakeMeterReading(double* reading) {
  EditorFeed* feed = ReadingFeed();
  return feed && reading && feed->Take(reading);
}

void IEffectWeb::AttachEditor(IEditorLink* graphics) {
  picture_ = dynamic_cast<IGraphicsOffscreen*>(graphics);
  if (graphics && !picture_) delete graphics;
  IEffectBase::AttachEditor(picture_ ? graphics : new PageLink);
}
