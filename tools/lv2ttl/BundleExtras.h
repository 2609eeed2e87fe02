// What the LV2 bundle offers beyond the DSP plug-in: the UI, extension data
// and the host features it may use. Filled by AddBundleExtras; the
// generator only writes what is listed here.
#pragma once

#include <string>
#include <vector>

namespace lv2ttl {

struct BundleExtras {
  // Written as lv2:extensionData / lv2:optionalFeature of the plug-in.
  std::vector<std::string> extensionData;
  std::vector<std::string> optionalFeatures;
  // Extra @prefix lines and Turtle statements: manifest.ttl (the UI's entry)
  // and Kestrune.ttl (after the plug-in's own description).
  std::vector<std::string> prefixes;
  std::string manifestStatements;
  std::string pluginStatements;
};

void AddBundleExtras(BundleExtras& extras);

}  // namespace lv2ttl
