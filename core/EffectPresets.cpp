// Parameter state, preset slots and the preset bank of IEffectBase.
//
// Formats (little-endian):
//   parameter state: one 8-byte double per parameter, in index order;
//   chunk header:    0x70666674 ("tffp"), then the version: kChunkVersion
//                    (0x00010000) for a program chunk, kBankVersion
//                    (0x00010001) for a bank;
//   preset bank:     per slot: 32-bit name length, name bytes, 1-byte used
//                    flag, and when used the slot's parameter state. A bank
//                    of version 0x00010000 has no slots for the presets the
//                    effect keeps ahead of older banks' (presetsAheadOfOldBanks):
//                    its first slot is the one after them.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "IEffectBase.h"

namespace {
constexpr int32_t kChunkMagic = 0x70666674;
constexpr const char* kUserPresetName = "user preset";
}  // namespace

PresetSlot::PresetSlot() { SetName("empty"); }

void PresetSlot::SetName(const char* newName) { CopyText(name, sizeof name, newName); }

PresetSlot* IEffectBase::PresetAt(int index) {
  if (index < 0 || index >= PresetCount()) return nullptr;
  return &presets_[static_cast<size_t>(index)];
}

bool IEffectBase::SerializeParams(StateChunk& chunk) {
  PlugLockGuard guard(*this);
  bool ok = true;
  for (int i = 0; i < ParamCount() && ok; ++i) {
    const PlugParam& p = params_[i];
    TraceLine("IEffectBase::SerializeParams", 880, "%d %s %f", i, p.name, p.value);
    ok = chunk.Put(p.value) > 0;
  }
  return chunk.Size() > 0;
}

int IEffectBase::UnserializeParams(const StateChunk& chunk, int position) {
  PlugLockGuard guard(*this);
  for (int i = 0; i < ParamCount() && position >= 0; ++i) {
    double v = 0;
    position = chunk.Get(&v, position);
    if (position < 0) v = 0;
    PlugParam& p = params_[i];
    p.SetClamped(v);
    TraceLine("IEffectBase::UnserializeParams", 899, "%d %s %f", i, p.name, p.value);
  }
  return position;
}

void IEffectBase::BeginChunk(StateChunk& chunk, int32_t version) {
  chunk.Clear();
  chunk.Put(kChunkMagic);
  chunk.Put(version);
}

void IEffectBase::ModifyCurrentPreset(const char* name) {
  PresetSlot* slot = PresetAt(currentPreset_);
  if (!slot) return;
  slot->chunk.Clear();
  TraceLine("IEffectBase::ModifyCurrentPreset", 810, "%d %s", currentPreset_, slot->name);
  SaveState(slot->chunk);
  if (name && name[0]) slot->SetName(name);
}

bool IEffectBase::ApplyPreset(int index) {
  PresetSlot* slot = PresetAt(index);
  if (!slot) return false;
  bool ok;
  if (slot->used) {
    ok = LoadState(slot->chunk, 0) > 0;
  } else {
    slot->used = true;
    int count = 0;
    for (const PresetSlot& s : presets_)
      if (strstr(s.name, kUserPresetName)) ++count;
    char name[PresetSlot::kNameSize];
    snprintf(name, sizeof name, "%s %d", kUserPresetName, count + 1);
    slot->SetName(name);
    ok = SaveState(slot->chunk);
  }
  if (ok) {
    currentPreset_ = index;
    PresetStoreChanged();
    RefreshEditorFromParams();
  }
  return ok;
}

void IEffectBase::FillEmptyPresetSlots(const char* name, int count) {
  for (int n = 0; n < count; ++n) {
    PresetSlot* slot = nullptr;
    for (PresetSlot& s : presets_) {
      if (!s.used) {
        slot = &s;
        break;
      }
    }
    if (!slot) return;
    slot->used = true;
    slot->SetName(name ? name : "Empty");
    SaveState(slot->chunk);
  }
}

bool IEffectBase::SerializePresets(StateChunk& chunk) {
  bool ok = true;
  for (int i = 0; i < PresetCount() && ok; ++i) {
    const PresetSlot& slot = presets_[i];
    ok = chunk.PutString(slot.name) > 0;
    TraceLine("IEffectBase::SerializePresets", 831, "%d %s", i, slot.name);
    ok = ok && chunk.PutBool(slot.used) > 0;
    if (ok && slot.used) ok = chunk.PutChunk(slot.chunk) >= 0;
  }
  return ok;
}

int IEffectBase::UnserializePresets(const StateChunk& chunk, int position, int32_t bankVersion) {
  // An older bank's slots are this list's from `first` on; the preset that
  // was current moves with its slot (a host that replays the program index
  // it saved, or a new instance at 0, lands on the slot holding the values).
  const int first = bankVersion < kBankVersion ? std::min(presetsAheadOfOldBanks_, PresetCount()) : 0;
  // The name read last carries over to a slot whose own name cannot be read.
  char keptName[PresetSlot::kNameSize] = "";
  for (int i = first; i < PresetCount() && position >= 0; ++i) {
    // A bank saved with fewer slots (one, before the factory programs) ends
    // after its last slot: the later slots keep what they hold.
    if (i > first && position == chunk.Size()) break;
    PresetSlot& slot = presets_[i];

    int afterName = chunk.GetString(keptName, sizeof keptName, position);
    position = afterName;
    slot.SetName(keptName);
    TraceLine("IEffectBase::UnserializePresets", 853, "%d %s", i, slot.name);

    uint8_t used = 0;
    position = position < 0 ? -1 : chunk.Get(&used, position);
    if (position < 0) break;
    slot.used = used != 0;

    if (slot.used) {
      position = LoadState(chunk, position);
      if (position > 0) {
        slot.chunk.Clear();
        SaveState(slot.chunk);
      }
    }
  }
  if (position >= 0 && first > 0) currentPreset_ = std::min(currentPreset_ + first, PresetCount() - 1);
  ApplyPreset(currentPreset_);
  return position;
}
