#include "PresetFileState.h"

#include "FxpFile.h"
#include "VstPresetFile.h"

namespace presetfiles {

PresetFileKind KindOf(const Bytes& file) {
  if (HasTag(file, 0, "VST3")) return PresetFileKind::VstPreset;
  if (HasTag(file, 0, "CcnK")) return PresetFileKind::Fxp;
  return PresetFileKind::StateBlob;
}

bool StateFromPresetFile(const Bytes& file, const std::string& format, Bytes& state, std::string& error) {
  switch (KindOf(file)) {
    case PresetFileKind::VstPreset: {
      VstPreset preset;
      if (!ReadVstPreset(file, preset, error)) return false;
      if (format != "VST3") {
        error = "it is a VST3 preset, for the VST3 plug-in";
        return false;
      }
      if (!preset.hasControllerState) {
        error = "the VST3 preset holds no controller state";
        return false;
      }
      state = preset.controllerState;
      return true;
    }
    case PresetFileKind::Fxp: {
      FxpProgram program;
      if (!ReadFxp(file, program, error)) return false;
      if (format != "VST2") {
        error = "it is a VST2 program file, for the VST2 plug-in";
        return false;
      }
      if (!program.opaqueChunk) {
        error = "the VST2 program file holds parameter values, not a program chunk";
        return false;
      }
      state = program.chunk;
      return true;
    }
    case PresetFileKind::StateBlob:
      break;
  }
  state = file;
  return true;
}

}  // namespace presetfiles
