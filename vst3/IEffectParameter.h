// IEffectParameter: how one plug-in parameter appears to a VST3 host.
//
// A VST3 parameter object of the SDK's edit controller that refers to the
// plug-in's PlugParam (which it does not own). The parameter information
// (title, units, step count, default, flags, precision, unit) is taken from
// the PlugParam once, when the object is made; the conversions and texts ask
// the PlugParam each time. The object's own normalized value is the
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
  IEffectParameter(PlugParam* param, Steinberg::Vst::ParamID id, Steinberg::Vst::UnitID unitId);

  // The value as hosts show it, in the parameter's display unit.
  void toString(Steinberg::Vst::ParamValue valueNormalized,
                Steinberg::Vst::String128 string) const SMTG_OVERRIDE;
  // What toString shows, with or without the unit (and the plain numbers
  // hosts typed before); other text is refused.
  bool fromString(const Steinberg::Vst::TChar* string,
                  Steinberg::Vst::ParamValue& valueNormalized) const SMTG_OVERRIDE;
  Steinberg::Vst::ParamValue toPlain(Steinberg::Vst::ParamValue valueNormalized) const SMTG_OVERRIDE;
  Steinberg::Vst::ParamValue toNormalized(Steinberg::Vst::ParamValue plainValue) const SMTG_OVERRIDE;

  PlugParam* Param() const { return param_; }

  OBJ_METHODS(IEffectParameter, Steinberg::Vst::Parameter)

 private:
  PlugParam* param_;
};

// A host's normalized value limited to [0, 1]; NaN becomes 0.
double ClampNormalized(double normalized);
