#include "Lv2UiPlug.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "KestruneEditor.h"
#include "KestruneIdentity.h"
#include "Lv2Ports.h"

Lv2UiPlug::Lv2UiPlug(LV2UI_Write_Function write, LV2UI_Controller controller,
                     const LV2_Feature* const* features)
    : IEffectBase(kestrune::Identity(), kApiLv2), write_(write), controller_(controller) {
  for (int i = 0; features && features[i]; ++i) {
    const char* uri = features[i]->URI;
    if (uri && std::strcmp(uri, LV2_UI__touch) == 0)
      touch_ = static_cast<const LV2UI_Touch*>(features[i]->data);
    if (uri && std::strcmp(uri, LV2_UI__resize) == 0)
      resize_ = static_cast<const LV2UI_Resize*>(features[i]->data);
  }
  if (touch_ && !touch_->touch) touch_ = nullptr;
  if (resize_ && !resize_->ui_resize) resize_ = nullptr;
  kestrune::InitParameters(*this);
  portValues_.assign(static_cast<size_t>(ParamCount()), std::numeric_limits<float>::quiet_NaN());
  AttachEditor(kestrune::BuildEditor(this, &meterControlIndex_));
}

Lv2UiPlug::~Lv2UiPlug() = default;

double Lv2UiPlug::MeterReadingFor(float gainReductionDb) {
  // The inverse of the DSP's dB = -20 log10(1 - reading).
  if (!(gainReductionDb > 0)) return 0.0;
  const double reading = 1.0 - std::pow(10.0, -static_cast<double>(gainReductionDb) / 20.0);
  return std::fmin(std::fmax(reading, 0.0), 1.0);
}

void Lv2UiPlug::PortEvent(uint32_t port, uint32_t size, uint32_t format, const void* buffer) {
  // Control ports only: a float in the host's default format.
  if (format != 0 || size != sizeof(float) || !buffer) return;
  float value;
  std::memcpy(&value, buffer, sizeof value);
  PlugLockGuard guard(*this);
  if (port == lv2ports::kGainReductionPort) {
    if (Editor() && !std::isnan(value))
      Editor()->SetControlValue(meterControlIndex_, MeterReadingFor(value));
    return;
  }
  if (port < lv2ports::kFirstParamPort ||
      port - lv2ports::kFirstParamPort >= static_cast<uint32_t>(ParamCount()))
    return;
  const int index = static_cast<int>(port - lv2ports::kFirstParamPort);
  float& known = portValues_[static_cast<size_t>(index)];
  if (std::memcmp(&known, &value, sizeof value) == 0) return;  // our own write, echoed
  double plain;
  if (!lv2ports::PlainFromPortValue(*this, index, value, &plain)) return;
  known = value;
  PlugParam* param = ParamAt(index);
  param->SetClamped(plain);
  if (Editor()) Editor()->ShowParameterValue(index, param->value, false);
}

void Lv2UiPlug::NotifyHostParam(int index, double) {
  const PlugParam* param = ParamAt(index);
  if (!param || !write_) return;
  const float value = lv2ports::PortValueFor(*this, index, param->value);
  portValues_[static_cast<size_t>(index)] = value;
  write_(controller_, lv2ports::kFirstParamPort + static_cast<uint32_t>(index), sizeof value, 0,
         &value);
}

void Lv2UiPlug::Touch(int index, bool grabbed) {
  if (touch_ && index >= 0 && index < ParamCount())
    touch_->touch(touch_->handle, lv2ports::kFirstParamPort + static_cast<uint32_t>(index),
                  grabbed);
}

void Lv2UiPlug::BeginParamGesture(int index) { Touch(index, true); }
void Lv2UiPlug::EndParamGesture(int index) { Touch(index, false); }

void Lv2UiPlug::ResizeEditor() {
  if (resize_ && Editor()) resize_->ui_resize(resize_->handle, Editor()->Width(), Editor()->Height());
}

void Lv2UiPlug::HostTimeSignature(int* numerator, int* denominator) {
  if (numerator) *numerator = 4;
  if (denominator) *denominator = 4;
}

void Lv2UiPlug::HostTimeInfo(::HostTimeInfo* info) {
  if (info) *info = ::HostTimeInfo();
}
