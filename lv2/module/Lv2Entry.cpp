// The LV2 module's entry: the descriptor of the one plug-in it holds, and
// the extension data it offers. Only lv2_descriptor leaves the module.
#include <cstring>
#include <mutex>
#include <new>

#include <lv2/core/lv2.h>
#include <lv2/state/state.h>

#include "Kestrune.h"
#include "Lv2Ports.h"
#include "Lv2Extensions.h"
#include "PortValuesExtension.h"

namespace {

// Serialises instance creation: hosts may create instances from several
// threads at once.
std::mutex& CreationLock() {
  static std::mutex lock;
  return lock;
}

Kestrune* Plug(LV2_Handle instance) { return static_cast<Kestrune*>(instance); }

LV2_Handle Instantiate(const LV2_Descriptor*, double sampleRate, const char*,
                       const LV2_Feature* const* features) {
  std::lock_guard<std::mutex> guard(CreationLock());
  Lv2CreationArg arg;
  arg.sampleRate = sampleRate;
  arg.features = features;
  Kestrune* plug = nullptr;
  try {
    plug = new Kestrune(arg);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  if (!plug->Usable() || !lv2extensions::Attach(*plug, features)) {
    delete plug;
    return nullptr;
  }
  // The effect's derived values follow the parameters from the start; the
  // ports only report what changes.
  plug->NotifyAllParamsChanged();
  return plug;
}

void ConnectPort(LV2_Handle instance, uint32_t port, void* data) {
  Plug(instance)->ConnectPort(port, data);
}

void Activate(LV2_Handle instance) { Plug(instance)->Activate(); }

void Run(LV2_Handle instance, uint32_t frames) {
  Kestrune* plug = Plug(instance);
  plug->Run(frames);
  // The meter's reading after the run; only the audio thread writes it.
  if (float* port = plug->GainReductionPort())
    *port = lv2ports::GainReductionDb(plug->path.state.meterState);
  lv2extensions::AfterRun(*plug);
}

void Deactivate(LV2_Handle instance) { Plug(instance)->Deactivate(); }

void Cleanup(LV2_Handle instance) {
  std::lock_guard<std::mutex> guard(CreationLock());
  delete Plug(instance);
}

LV2_State_Status SaveState(LV2_Handle instance, LV2_State_Store_Function store,
                           LV2_State_Handle handle, uint32_t, const LV2_Feature* const*) {
  return Plug(instance)->SaveLv2State(store, handle);
}

LV2_State_Status RestoreState(LV2_Handle instance, LV2_State_Retrieve_Function retrieve,
                              LV2_State_Handle handle, uint32_t, const LV2_Feature* const*) {
  return Plug(instance)->RestoreLv2State(retrieve, handle);
}

int PortValue(LV2_Handle instance, uint32_t port, float* value) {
  return instance && Plug(instance)->ParamPortValue(port, value) ? 1 : 0;
}

const void* ExtensionData(const char* uri) {
  static const LV2_State_Interface state = {SaveState, RestoreState};
  static const KestrunePortValuesInterface portValues = {PortValue};
  if (!uri) return nullptr;
  if (std::strcmp(uri, LV2_STATE__interface) == 0) return &state;
  if (std::strcmp(uri, KESTRUNE_PORTVALUES__interface) == 0) return &portValues;
  return lv2extensions::ExtensionData(uri);
}

const LV2_Descriptor kDescriptor = {
    lv2ports::kPluginUri, Instantiate, ConnectPort, Activate, Run, Deactivate, Cleanup,
    ExtensionData,
};

}  // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
  return index == 0 ? &kDescriptor : nullptr;
}
