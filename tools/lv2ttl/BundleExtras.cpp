#include "BundleExtras.h"

#include "InlineDisplayExtension.h"
#include "Lv2Ports.h"
#include "Lv2UiIdentity.h"

namespace lv2ttl {

// The UI and the inline display add themselves here.
void AddBundleExtras(BundleExtras& extras) {
  // Ardour's inline display: the meter in the mixer strip.
  extras.extensionData.push_back(KESTRUNE_INLINEDISPLAY__interface);
  extras.optionalFeatures.push_back(KESTRUNE_INLINEDISPLAY__queue_draw);
  // No schema in the LV2 package declares the extension's names.
  extras.pluginStatements += "<" KESTRUNE_INLINEDISPLAY__queue_draw "> a lv2:Feature .\n"
                             "<" KESTRUNE_INLINEDISPLAY__interface "> a lv2:ExtensionData .\n";

  // The editor as an X11 UI embedded in the host's window, told about the
  // gain reduction for its meter.
  const std::string plugin = std::string("<") + lv2ports::kPluginUri + ">";
  const std::string ui = std::string("<") + lv2ui::kUiUri + ">";
  extras.prefixes.push_back("@prefix ui: <http://lv2plug.in/ns/extensions/ui#> .");
  extras.manifestStatements +=
      ui + "\n"
      "  a ui:X11UI ;\n"
      "  ui:binary <" + std::string(lv2ui::kUiBinaryName) + "> ;\n"
      "  lv2:requiredFeature ui:idleInterface, ui:parent ;\n"
      "  lv2:optionalFeature ui:touch, <http://lv2plug.in/ns/ext/options#options>,\n"
      "    <http://lv2plug.in/ns/ext/urid#map> ;\n"
      "  <http://lv2plug.in/ns/ext/options#supportedOption> ui:scaleFactor ;\n"
      "  lv2:extensionData ui:idleInterface ;\n"
      "  ui:portNotification [\n"
      "    ui:plugin " + plugin + " ;\n"
      "    lv2:symbol \"" + lv2ports::kGainReductionSymbol + "\" ;\n"
      "    ui:protocol ui:floatProtocol\n"
      "  ] .\n";
  extras.pluginStatements += plugin + " ui:ui " + ui + " .\n";
}

}  // namespace lv2ttl
