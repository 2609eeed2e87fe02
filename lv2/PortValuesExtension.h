// Kestrune's port-values extension: what each parameter port should show
// for the plug-in's current settings.
//
// LV2 gives a host no way to read a plug-in's input ports back, and a host
// that restores a state without port values of its own (a bare blob, as
// kestrune-render loads a .vstpreset) would leave its ports showing the
// settings the state replaced. Such a host asks here after the restore and
// sets its ports as lilv_state_restore sets them from a saved state's port
// values; a value it sets after that is then a change the plug-in sees.
// Hosts that do not know the URI never ask.
#pragma once

#include <cstdint>

#include <lv2/core/lv2.h>

#define KESTRUNE_PORTVALUES__interface "urn:marlowind:kestrune#portValues"

extern "C" {
// extension_data(KESTRUNE_PORTVALUES__interface). Not on the audio thread;
// never concurrently with run() or a state restore of the same instance.
struct KestrunePortValuesInterface {
  // Writes to *value what port `port` should show and returns 1; returns 0
  // and leaves *value alone when `port` is not a parameter's port.
  int (*portValue)(LV2_Handle instance, uint32_t port, float* value);
};
}
