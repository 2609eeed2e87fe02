#include "EditorPicture.h"

#include <cmath>
#include <cstring>

#include "HostState.h"
#include "IGraphicsOffscreen.h"
#include "Kestrune.h"

namespace render {

std::mutex& PictureDrawingLock() {
  static std::mutex lock;
  return lock;
}

namespace {

int ApiForFormat(const char* formatName) {
  if (std::strcmp(formatName, "VST3") == 0) return IEffectBase::kApiVst3;
  if (std::strcmp(formatName, "LV2") == 0) return IEffectBase::kApiLv2;
  if (std::strcmp(formatName, "CLAP") == 0) return IEffectBase::kApiClap;
  return IEffectBase::kApiVst2;
}

}  // namespace

bool WriteEditorPicture(const char* formatName, const std::vector<EditorParamValue>& values,
                        const std::vector<uint8_t>& hostState, double reductionDb, const std::string& path,
                        std::string& error, double scale) {
  // Made first, so the instance is also destroyed holding it.
  std::unique_lock<std::mutex> drawing(PictureDrawingLock());
  Kestrune plug(ApiForFormat(formatName));
  auto* editor = dynamic_cast<IGraphicsOffscreen*>(plug.Editor());
  if (!editor) {
    error = "cannot draw the editor: this build has no window-less editor";
    return false;
  }
  {
    PlugLockGuard guard(plug);
    if (!hostState.empty()) {
      // Shows every value it loads.
      if (!LoadHostState(plug, hostState.data(), hostState.size())) {
        error = "cannot draw the editor: the plug-in's state does not load";
        return false;
      }
    } else {
      for (const EditorParamValue& v : values) {
        if (v.index < 0 || v.index >= plug.ParamCount()) continue;
        PlugParam* param = plug.ParamAt(v.index);
        param->SetFromHostNormalized(v.normalized);
        plug.ParamChanged(v.index);
        editor->ShowParameterValue(v.index, param->value, false);
      }
    }
    // The meter reads the reduced share of the level: 0 none, 1 all.
    const double meter = 1.0 - std::pow(10.0, -std::max(reductionDb, 0.0) / 20.0);
    if (plug.meterControlIndex >= 0) editor->SetControlValue(plug.meterControlIndex, meter);
  }
  editor->SetScale(scale);
  editor->RenderAll();
  // Encoding, most of the time, needs only the finished pixels.
  drawing.unlock();
  const bool written = editor->WriteSnapshot(path.c_str());
  drawing.lock();
  if (!written) {
    error = "cannot write '" + path + "'";
    return false;
  }
  return true;
}

}  // namespace render
