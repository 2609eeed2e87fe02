// The editor picture: the Kestrune editor as it looks with the loaded
// plug-in's parameter values and the meter at a given gain reduction,
// composed without a window by an in-process, headless instance of the same
// effect that speaks for the loaded module's format.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace render {

struct EditorParamValue {
  int index = 0;            // the plug-in's parameter index (VST3 ID / VST2 index)
  double normalized = 0;    // as the host reads it (PlugParam::HostNormalizedValue)
};

// Held while a picture is drawn (not while it is encoded): the drawing code
// keeps its fonts, and their colour, for the whole process, and is not made
// for two threads at once. The level plot's text takes it too.
std::mutex& PictureDrawingLock();

// Writes the picture to exactly `path`. `reductionDb` is positive for gain
// reduction; the meter shows the reduced share of the level (1 - gain).
// `scale` is the editor's scale (1: its 912 x 287 design size).
// `formatName` is the loaded module's ("VST3", "VST2" or "LV2"). The
// settings are `hostState`, the plug-in's own state blob, when it is not
// empty, else `values`.
bool WriteEditorPicture(const char* formatName, const std::vector<EditorParamValue>& values,
                        const std::vector<uint8_t>& hostState, double reductionDb, const std::string& path,
                        std::string& error, double scale = 1.0);

}  // namespace render
