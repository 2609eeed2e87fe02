// Renders the Kestrune editor to PNG files:
//   kestrune-snapshot [output folder]   (default: out/snapshots)
// writes editor-default.png (a new instance) and editor-settings.png (other
// settings through the host path, SLAM and 16x on, external sidechain, the
// meter showing about 6 dB of gain reduction).
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "IGraphicsOffscreen.h"
#include "Kestrune.h"
#include "KestruneEditor.h"

namespace {

bool Render(Kestrune& plug, const std::string& path) {
  auto* editor = dynamic_cast<IGraphicsOffscreen*>(plug.Editor());
  if (!editor) {
    std::fprintf(stderr, "kestrune-snapshot: the effect has no window-less editor\n");
    return false;
  }
  editor->RenderAll();
  if (!editor->WriteSnapshot(path.c_str())) {
    std::fprintf(stderr, "kestrune-snapshot: cannot write %s\n", path.c_str());
    return false;
  }
  std::printf("%s\n", path.c_str());
  return true;
}

void MakeFolders(const std::string& dir) {
  for (size_t i = 1; i <= dir.size(); ++i)
    if (i == dir.size() || dir[i] == '/') mkdir(dir.substr(0, i).c_str(), 0755);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && argv[1][0] == '-') {
    std::fprintf(stderr, "usage: %s [output folder]\n", argv[0]);
    return 2;
  }
  std::string dir = argc > 1 ? argv[1] : "out/snapshots";
  MakeFolders(dir);
  TestHost host;
  bool ok = true;
  {
    Kestrune plug(&host);
    ok = Render(plug, dir + "/editor-default.png") && ok;
  }
  {
    Kestrune plug(&host);
    struct Setting {
      int param;
      double normalized;
    };
    const Setting settings[] = {
        {kestrune::kInput, 0.55},   {kestrune::kOutput, 0.62},  {kestrune::kAttack, 0.3},
        {kestrune::kRelease, 0.72}, {kestrune::kRatio, 2.0 / 3}, {kestrune::kHpf, 0.25},
        {kestrune::kMix, 0.8},      {kestrune::kHf, 0.4},       {kestrune::kMidFreq, 0.5},
        {kestrune::kMidGain, 0.7},  {kestrune::kSlam, 1.0},     {kestrune::kOversampling, 1.0},
        {kestrune::kSidechain, 0.0}};
    for (const Setting& s : settings) {
      PlugLockGuard guard(plug);
      plug.ParamAt(s.param)->SetFromNormalized(s.normalized);
      plug.ParamChanged(s.param);
      plug.Editor()->ShowParameterValue(s.param, s.normalized, true);
    }
    plug.Editor()->SetControlValue(plug.meterControlIndex, 0.5);
    ok = Render(plug, dir + "/editor-settings.png") && ok;
  }
  return ok ? 0 : 1;
}
