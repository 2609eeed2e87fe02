// Preloaded into Ardour by the LV2 preset case: after the first port value
// lilv_state_restore hands Ardour, Ardour's thread pauses for a moment, as
// a busy machine can pause it, so its engine runs blocks while only some of
// a preset's port values are set. Without the pause that happens only now
// and then; with it, every preset load meets it.
#include <dlfcn.h>
#include <lilv/lilv.h>
#include <unistd.h>

namespace {

LilvSetPortValueFunc hostSetter = nullptr;
int valuesSet = 0;

void SetterThatPauses(const char* symbol, void* data, const void* value, uint32_t size, uint32_t type) {
  hostSetter(symbol, data, value, size, type);
  // Longer than a period of the engine: it runs a block or more meanwhile.
  if (++valuesSet == 1) usleep(50000);
}

}  // namespace

extern "C" void lilv_state_restore(const LilvState* state, LilvInstance* instance, LilvSetPortValueFunc setValue,
                                   void* data, uint32_t flags, const LV2_Feature* const* features) {
  using Restore = void (*)(const LilvState*, LilvInstance*, LilvSetPortValueFunc, void*, uint32_t,
                           const LV2_Feature* const*);
  const auto real = reinterpret_cast<Restore>(dlsym(RTLD_NEXT, "lilv_state_restore"));
  if (!real) return;
  if (!setValue) return real(state, instance, setValue, data, flags, features);
  hostSetter = setValue;
  valuesSet = 0;
  real(state, instance, SetterThatPauses, data, flags, features);
}
