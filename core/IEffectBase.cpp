#include "IEffectBase.h"

#include "DenormalGuard.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

IEffectBase::IEffectBase(const EffectIdentity& id, int apiNumber)
    : uniqueId_(id.uniqueId),
      makerId_(id.makerId),
      version_(id.version),
      apiNumber_(apiNumber),
      usesStateChunks_(id.usesStateChunks),
      isInstrument_(id.isInstrument),
      handlesMidi_(id.handlesMidi),
      bypassParam_(id.bypassParam >= 0 && id.bypassParam < id.paramCount ? id.bypassParam : -1),
      presetsAheadOfOldBanks_(std::max(id.presetsAheadOfOldBanks, 0)) {
  TraceLine("IEffectBase::IEffectBase", 87, "%s:%s", id.effectName, TraceStamp());

  params_.resize(static_cast<size_t>(std::max(id.paramCount, 0)));
  presets_.resize(static_cast<size_t>(std::max(id.presetCount, 0)));

  CopyText(effectName_, sizeof effectName_, id.effectName);
  CopyText(productName_, sizeof productName_, id.productName);
  CopyText(makerName_, sizeof makerName_, id.makerName);

  ParseChannelConfig(id.channelConfig);
}

IEffectBase::~IEffectBase() {
  // The editor goes first: its controls may refer to parameters.
  editor_.reset();
}

void IEffectBase::ParseChannelConfig(const char* config) {
  int maxIn = 0, maxOut = 0;
  const char* p = config ? config : "";
  for (;;) {
    int in = 0, out = 0;
    if (sscanf(p, "%d-%d", &in, &out) < 2) {
      // A number that cannot be read counts as 0.
      if (sscanf(p, "%d", &in) < 1) in = 0;
      out = 0;
    }
    channelPairs_.push_back({in, out});
    maxIn = std::max(maxIn, in);
    maxOut = std::max(maxOut, out);
    const char* space = strchr(p, ' ');
    if (!space) break;
    p = space + 1;
  }

  inputPtrs_.assign(static_cast<size_t>(maxIn), nullptr);
  outputPtrs_.assign(static_cast<size_t>(maxOut), nullptr);
  inputs_.resize(static_cast<size_t>(maxIn));
  outputs_.resize(static_cast<size_t>(maxOut));
  for (int i = 0; i < maxIn; ++i) {
    inputs_[i].slot = i;
    inputPtrs_[i] = inputs_[i].scratch.data();
  }
  for (int i = 0; i < maxOut; ++i) {
    outputs_[i].slot = i;
    outputPtrs_[i] = outputs_[i].scratch.data();
  }
  floatPieces_.inputs.assign(static_cast<size_t>(maxIn), nullptr);
  floatPieces_.outputs.assign(static_cast<size_t>(maxOut), nullptr);
  doublePieces_.inputs.assign(static_cast<size_t>(maxIn), nullptr);
  doublePieces_.outputs.assign(static_cast<size_t>(maxOut), nullptr);
}

// ---------------------------------------------------------------- hooks

void IEffectBase::ResetProcessing() { PlugLockGuard guard(*this); }

void IEffectBase::ParamChanged(int /*index*/) { PlugLockGuard guard(*this); }

void IEffectBase::ActivationChanged(bool /*active*/) { PlugLockGuard guard(*this); }

void IEffectBase::ProcessBlock(double** inputs, double** outputs, int frames) {
  if (frames <= 0) return;
  int nIn = InputChannelCount(), nOut = OutputChannelCount();
  for (int i = 0; i < nOut; ++i) {
    if (i < nIn)
      memmove(outputs[i], inputs[i], sizeof(double) * static_cast<size_t>(frames));
    else
      std::fill(outputs[i], outputs[i] + frames, 0.0);
  }
}

bool IEffectBase::MidiKeyName(int /*key*/, char* name, size_t nameSize) {
  CopyText(name, nameSize, "");
  return false;
}

int IEffectBase::LoadState(const StateChunk& chunk, int position) {
  PlugLockGuard guard(*this);
  int pos = UnserializeParams(chunk, position);
  NotifyAllParamsChanged();
  loadUntold_.store(true, std::memory_order_release);
  return pos;
}

void IEffectBase::UserInterfaceTick() {
  if (!loadUntold_.exchange(false, std::memory_order_acq_rel)) return;
  stateLoadUntold_.store(false, std::memory_order_release);  // told of it too
  NotifyHostPresetChange();
}

void IEffectBase::TellHostOfStateLoad() {
  if (stateLoadUntold_.exchange(false, std::memory_order_acq_rel)) UserInterfaceTick();
}

bool IEffectBase::StateMatches(const double* values, int first) const {
  if (!values || first < 0) return false;
  for (int i = 0; i < ParamCount(); ++i) {
    float current = static_cast<float>(params_[i].value);
    float stored = static_cast<float>(values[first + i]);
    if (!(std::abs(current - stored) < 0.00001f)) return false;
  }
  return true;
}

void IEffectBase::SetParamFromEditor(int index, double normalized) {
  PlugLockGuard guard(*this);
  PlugParam* param = AssignParam(index, normalized, ValueDomain::EditorNormalized);
  if (!param) return;
  NotifyHostParam(index, param->HostNormalizedFromNormalized(std::min(std::max(normalized, 0.0), 1.0)));
  ParamChanged(index);
}

void IEffectBase::AttachEditor(IEditorLink* graphics) {
  if (!graphics) return;
  PlugLockGuard guard(*this);
  for (int i = 0; i < ParamCount(); ++i)
    graphics->ShowParameterValue(i, params_[i].NormalizedValue(), true);
  graphics->ShowPendingValues();  // the controls' defaults
  // No back buffer yet: a window or an offscreen picture makes one when it
  // first draws, so an instance whose editor is never shown holds none.
  editor_.reset(graphics);
}

void IEffectBase::ShowReadingIn(int controlIndex) {
  if (editor_) editor_->FollowFeed(controlIndex, &readingFeed_);
}

void IEffectBase::RefreshEditorFromParams() {
  if (!editor_) return;
  for (int i = 0; i < ParamCount(); ++i) editor_->ShowParameterValue(i, params_[i].value, false);
}

void IEffectBase::ChangeLatency(int frames) {
  latency_ = frames;
  if (!delay_) return;
  delay_->length = std::max(frames, 0);
  delay_->samples.assign(static_cast<size_t>(delay_->length) *
                             static_cast<size_t>(delay_->inputChannels),
                         0.0);
  delay_->writePosition = 0;
}

void IEffectBase::CreatePassThroughDelay() {
  delay_ = std::make_unique<PassThroughDelay>();
  delay_->inputChannels = InputChannelCount();
  delay_->outputChannels = OutputChannelCount();
  ChangeLatency(latency_);
}

void IEffectBase::ChangeBlockSize(int frames) {
  if (frames == blockSize_) return;
  size_t n = static_cast<size_t>(std::max(frames, 0));
  // Slots that pointed at a scratch array follow it to its new storage.
  for (InputChannel& in : inputs_) {
    bool onScratch = !in.connected || inputPtrs_[in.slot] == in.scratch.data();
    in.scratch.assign(n, 0.0);
    if (onScratch) inputPtrs_[in.slot] = in.scratch.data();
  }
  for (OutputChannel& out : outputs_) {
    bool onScratch = !out.connected || outputPtrs_[out.slot] == out.scratch.data();
    out.scratch.assign(n, 0.0);
    if (onScratch) outputPtrs_[out.slot] = out.scratch.data();
  }
  blockSize_ = frames;
}

// ---------------------------------------------------------------- channels

bool IEffectBase::LegalIO(int in, int out) const {
  bool legal = false;
  for (const ChannelPair& pair : channelPairs_) {
    if ((in < 0 || in == pair.inputs) && (out < 0 || out == pair.outputs)) {
      legal = true;
      break;
    }
  }
  TraceLine("IEffectBase::LegalIO", 195, "%d:%d:%s", in, out, legal ? "legal" : "illegal");
  return legal;
}

void IEffectBase::ConnectInputs(int first, int count, bool connected) {
  int end = std::min(first + std::max(count, 0), InputChannelCount());
  for (int i = std::max(first, 0); i < end; ++i) {
    InputChannel& in = inputs_[i];
    if (!connected) {
      // The scratch may still hold converted host samples: an unconnected
      // input must read zeros.
      if (in.connected) std::fill(in.scratch.begin(), in.scratch.end(), 0.0);
      inputPtrs_[in.slot] = in.scratch.data();
    }
    in.connected = connected;
  }
}

void IEffectBase::ConnectOutputs(int first, int count, bool connected) {
  int end = std::min(first + std::max(count, 0), OutputChannelCount());
  for (int i = std::max(first, 0); i < end; ++i) {
    OutputChannel& out = outputs_[i];
    out.connected = connected;
    if (!connected) {
      outputPtrs_[out.slot] = out.scratch.data();
      out.floatDestination = nullptr;
    }
  }
}

bool IEffectBase::IsInputConnected(int channel) const {
  return channel >= 0 && channel < InputChannelCount() && inputs_[channel].connected;
}

bool IEffectBase::IsOutputConnected(int channel) const {
  return channel >= 0 && channel < OutputChannelCount() && outputs_[channel].connected;
}

void IEffectBase::RestrictToStereo() {
  if (InputChannelCount() > 2) ConnectInputs(2, InputChannelCount() - 2, false);
  if (OutputChannelCount() > 2) ConnectOutputs(2, OutputChannelCount() - 2, true);
}

// ---------------------------------------------------------------- processing frame

void IEffectBase::BindInputs(int first, int count, double* const* hostArrays) {
  int end = std::min(first + std::max(count, 0), InputChannelCount());
  int next = 0;
  for (int i = std::max(first, 0); i < end; ++i) {
    InputChannel& in = inputs_[i];
    if (!in.connected) continue;
    double* host = hostArrays ? hostArrays[next++] : nullptr;
    if (host) {
      inputPtrs_[in.slot] = host;
    } else {
      // A host that passes no buffer gets silence, never a null read.
      std::fill(in.scratch.begin(), in.scratch.end(), 0.0);
      inputPtrs_[in.slot] = in.scratch.data();
    }
  }
}

void IEffectBase::BindInputsFromFloat(int first, int count, const float* const* hostArrays,
                                      int frames) {
  int end = std::min(first + std::max(count, 0), InputChannelCount());
  int next = 0;
  for (int i = std::max(first, 0); i < end; ++i) {
    InputChannel& in = inputs_[i];
    if (!in.connected) continue;
    const float* host = hostArrays ? hostArrays[next++] : nullptr;
    int n = std::min(std::max(frames, 0), static_cast<int>(in.scratch.size()));
    if (host)
      for (int f = 0; f < n; ++f) in.scratch[f] = FromHostFloat(host[f]);
    else
      std::fill(in.scratch.begin(), in.scratch.end(), 0.0);
    inputPtrs_[in.slot] = in.scratch.data();
  }
}

void IEffectBase::BindOutputs(double* const* hostArrays) {
  int next = 0;
  for (OutputChannel& out : outputs_) {
    if (!out.connected) continue;
    double* host = hostArrays ? hostArrays[next++] : nullptr;
    outputPtrs_[out.slot] = host ? host : out.scratch.data();
    out.floatDestination = nullptr;
  }
}

void IEffectBase::BindOutputsToFloat(float* const* hostArrays) {
  int next = 0;
  for (OutputChannel& out : outputs_) {
    if (!out.connected) continue;
    outputPtrs_[out.slot] = out.scratch.data();
    out.floatDestination = hostArrays ? hostArrays[next++] : nullptr;
  }
}

void IEffectBase::RunBlock(int frames) {
  ProcessBlock(inputPtrs_.data(), outputPtrs_.data(), frames);
}

void IEffectBase::RunBlockToFloat(int frames) {
  RunBlock(frames);
  for (OutputChannel& out : outputs_) {
    if (!out.connected || !out.floatDestination) continue;
    int n = std::min(frames, static_cast<int>(out.scratch.size()));
    for (int f = 0; f < n; ++f) out.floatDestination[f] = ToHostFloat(out.scratch[f]);
  }
}

void IEffectBase::RunBlockAccumulating(int frames) {
  RunBlock(frames);
  for (OutputChannel& out : outputs_) {
    if (!out.connected || !out.floatDestination) continue;
    int n = std::min(frames, static_cast<int>(out.scratch.size()));
    for (int f = 0; f < n; ++f)
      out.floatDestination[f] = AddHostFloats(out.floatDestination[f], ToHostFloat(out.scratch[f]));
  }
}

void IEffectBase::PassThrough(int frames) {
  if (latency_ > 0 && delay_ && delay_->length > 0) {
    PassThroughDelay& d = *delay_;
    int channels = std::min({d.inputChannels, d.outputChannels, InputChannelCount(),
                             OutputChannelCount()});
    for (int f = 0; f < frames; ++f) {
      for (int c = 0; c < channels; ++c) {
        double& stored = d.samples[static_cast<size_t>(c) * d.length + d.writePosition];
        double delayed = stored;
        stored = inputPtrs_[c][f];
        outputPtrs_[c][f] = delayed;
      }
      d.writePosition = (d.writePosition + 1) % d.length;
    }
    return;
  }
  IEffectBase::ProcessBlock(inputPtrs_.data(), outputPtrs_.data(), frames);
}

// Missing host pointers (fewer arrays than channels, or null arrays) become
// null entries, which the bind steps turn into silence and discarded output.
template <typename Sample>
void IEffectBase::BindHostPieces(PieceArrays<Sample>& pieces, const Sample* const* inputs,
                                 int inputCount, Sample* const* outputs, int outputCount,
                                 int offset) {
  for (int i = 0; i < InputChannelCount(); ++i) {
    const Sample* host = i < inputCount ? inputs[i] : nullptr;
    pieces.inputs[i] = host ? const_cast<Sample*>(host) + offset : nullptr;
  }
  for (int i = 0; i < OutputChannelCount(); ++i) {
    Sample* host = i < outputCount ? outputs[i] : nullptr;
    pieces.outputs[i] = host ? host + offset : nullptr;
  }
}

void IEffectBase::SilenceHostOutputs(float* const* outputs, int outputCount, int frames,
                                     bool accumulate) {
  if (accumulate || !outputs) return;
  for (int i = 0; i < outputCount; ++i)
    if (outputs[i]) std::fill(outputs[i], outputs[i] + frames, 0.0f);
}

void IEffectBase::SilenceHostOutputs(double* const* outputs, int outputCount, int frames) {
  if (!outputs) return;
  for (int i = 0; i < outputCount; ++i)
    if (outputs[i]) std::fill(outputs[i], outputs[i] + frames, 0.0);
}

void IEffectBase::ProcessHostBlock(const float* const* inputs, int inputCount,
                                   float* const* outputs, int outputCount, int frames,
                                   bool accumulate) {
  PlugLockGuard guard(*this);
  ProcessHostBlockWithoutLock(inputs, inputCount, outputs, outputCount, frames, accumulate);
}

void IEffectBase::ProcessHostBlockWithoutLock(const float* const* inputs, int inputCount,
                                              float* const* outputs, int outputCount, int frames,
                                              bool accumulate) {
  // Around the conversion to float too: a tiny double result must reach the
  // host as 0, not as a subnormal float.
  DenormalGuard denormals;
  if (frames <= 0) return;
  if (blockSize_ <= 0 || !inputs || !outputs) {
    SilenceHostOutputs(outputs, outputCount, frames, accumulate);
    return;
  }
  for (int offset = 0; offset < frames; offset += blockSize_) {
    int n = std::min(blockSize_, frames - offset);
    BindHostPieces(floatPieces_, inputs, inputCount, outputs, outputCount, offset);
    BindInputsFromFloat(0, InputChannelCount(), floatPieces_.inputs.data(), n);
    BindOutputsToFloat(floatPieces_.outputs.data());
    if (accumulate)
      RunBlockAccumulating(n);
    else
      RunBlockToFloat(n);
  }
}

void IEffectBase::ProcessHostBlock(const double* const* inputs, int inputCount,
                                   double* const* outputs, int outputCount, int frames) {
  PlugLockGuard guard(*this);
  DenormalGuard denormals;
  if (frames <= 0) return;
  if (blockSize_ <= 0 || !inputs || !outputs) {
    SilenceHostOutputs(outputs, outputCount, frames);
    return;
  }
  // Unconnected channels read and write block-size scratch arrays, so long
  // blocks run in pieces here too.
  for (int offset = 0; offset < frames; offset += blockSize_) {
    int n = std::min(blockSize_, frames - offset);
    BindHostPieces(doublePieces_, inputs, inputCount, outputs, outputCount, offset);
    BindInputs(0, InputChannelCount(), doublePieces_.inputs.data());
    BindOutputs(doublePieces_.outputs.data());
    RunBlock(n);
  }
}

// ---------------------------------------------------------------- parameters

PlugParam* IEffectBase::ParamAt(int index) {
  if (index < 0 || index >= ParamCount()) return nullptr;
  return &params_[static_cast<size_t>(index)];
}

const PlugParam* IEffectBase::ParamAt(int index) const {
  if (index < 0 || index >= ParamCount()) return nullptr;
  return &params_[static_cast<size_t>(index)];
}

PlugParam* IEffectBase::AssignParam(int index, double value, ValueDomain domain) {
  PlugParam* param = ParamAt(index);
  if (!param || std::isnan(value)) return nullptr;
  if (domain == ValueDomain::Normalized)
    param->SetFromHostNormalized(std::min(std::max(value, 0.0), 1.0));
  else if (domain == ValueDomain::EditorNormalized)
    param->SetFromNormalized(std::min(std::max(value, 0.0), 1.0));
  else
    param->SetClamped(value);
  return param;
}

bool IEffectBase::SetParamFromHost(int index, double value, ValueDomain domain) {
  PlugLockGuard guard(*this);
  PlugParam* param = AssignParam(index, value, domain);
  if (!param) return false;
  // The step the value selects, as it is processed.
  if (editor_) editor_->ShowParameterValue(index, param->NormalizedValue(), true);
  ParamChanged(index);
  return true;
}

bool IEffectBase::HostBypass() const {
  const PlugParam* param = ParamAt(bypassParam_);
  return param ? param->value != param->minValue : bypassed_;
}

void IEffectBase::SetHostBypass(bool on) {
  PlugLockGuard guard(*this);
  PlugParam* param = ParamAt(bypassParam_);
  if (!param) {
    bypassed_ = on;
    return;
  }
  SetParamFromHost(bypassParam_, on ? param->maxValue : param->minValue, ValueDomain::Plain);
}

void IEffectBase::NotifyAllParamsChanged() {
  for (int i = 0; i < ParamCount(); ++i) ParamChanged(i);
}
