// IEffectParameter: how one plug-in parameter appears to a VST3 host.
//
// A VST3 parameter object of the SDK's edit controller that refers to the
// plug-in's PlugParam (which it does not own). The parameter information
// (title, step count, default, flags, precision, unit) is taken from the
// PlugParam once, when the object is made; the conversions and texts ask
// the PlugParam each time. The value text carries its unit and `units` stays
// empty: some hosts show only the text. Stepped parameters with a text per
// step are lists. Every conversion goes through the PlugParam's step rule,
// so a value between steps shows, converts and processes as the same step. The object's own normalized value is the
// controller's copy that hosts read with getParamNormalized; the PlugParam's
// value is changed only by the processing side.
//
// All calls come from the host's user-interface thread, with the plug-in
// lock held by the caller where the PlugParam may change at the same time.
#pragma once

#include "PlugParam.h"
#include "public.sdk/source/vst/vstparameters.h"

class IEffectParameter : public Steinberg::Vst::Parameter {
 public:
  // `unitId`: 0 for the root unit, else the unit of the parameter's group.
  // `isBypass`: the plug-in's bypass, which hosts then drive from their own
  // bypass switch.
  IEffectParameter(PlugParam* param, Steinberg::Vst::ParamID id, Steinberg::Vst::UnitID unitId,
                   bool isBypass = false);

  // The value as hosts show it, with its unit.
  void toString(Steinberg::Vst::ParamValue valueNormalized,
                Steinberg::Vst::String128 string) const SMTG_OVERRIDE;
  // What toString shows, with or without the unit; other text is refused.
  bool fromString(const Steinberg::Vst::TChar* string,
                  Steinberg::Vst::ParamValue& valueNormalized) const SMTG_OVERRIDE;
  // Plain values in the unit the text shows (ms, dB of boost, the step).
  Steinberg::Vst::ParamValue toPlain(Steinberg::Vst::ParamValue valueNormalized) const SMTG_OVERRIDE;
  Steinberg::Vst::ParamValue toNormalized(Steinberg::Vst::ParamValue plainValue) const SMTG_OVERRIDE;

  PlugParam* Param() const { return param_; }

  OBJ_METHODS(IEffectParameter, Steinberg::Vst::Parameter)

 private:
  PlugParam* param_;
};

// A host's normalized value limited to [0, 1]; NaN becomes 0.
double ClampNormalized(double normalized);

// A host's text as bytes for the plug-in's parsers: false when it holds a
// unit outside ASCII or has no terminator within `size` units (hosts' texts
// are String128). Never reads beyond `size` units.
bool HostTextToAscii(char* out, int size, const Steinberg::Vst::TChar* text);
