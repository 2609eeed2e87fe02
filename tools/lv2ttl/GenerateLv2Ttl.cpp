// kestrune-lv2ttl: writes the LV2 bundle's data from the parameter table
// the plug-in itself uses, so the TTL cannot disagree with the code.
//
//   kestrune-lv2ttl BUNDLE_DIR
//
// writes BUNDLE_DIR/manifest.ttl, BUNDLE_DIR/Kestrune.ttl and one
// BUNDLE_DIR/presets/<stem>.ttl per factory preset (effect/FactoryPresets.h),
// each beside its final name and renamed into place. A preset holds its port
// values and the same state blob the plug-in saves, so a host that restores
// the state gets the preset's values exactly.
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "BundleExtras.h"
#include "FactoryPresets.h"
#include "HostState.h"
#include "Kestrune.h"
#include "Lv2Ports.h"

namespace {

constexpr const char* kPrefixes =
    "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
    "@prefix bufsz: <http://lv2plug.in/ns/ext/buf-size#> .\n"
    "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
    "@prefix foaf: <http://xmlns.com/foaf/0.1/> .\n"
    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix opts: <http://lv2plug.in/ns/ext/options#> .\n"
    "@prefix pprops: <http://lv2plug.in/ns/ext/port-props#> .\n"
    "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
    "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
    "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n"
    "@prefix xsd: <http://www.w3.org/2001/XMLSchema#> .\n";

// A Turtle literal of `text`.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// The shortest decimal that reads back as the same float, as a Turtle
// decimal ("0.9", "400.0"); no negative zero.
std::string Number(double value) {
  float f = static_cast<float>(value);
  if (f == 0.0f) f = 0.0f;
  char text[64];
  for (int decimals = 1; decimals <= 12; ++decimals) {
    snprintf(text, sizeof text, "%.*f", decimals, static_cast<double>(f));
    if (std::strtof(text, nullptr) == f) return text;
  }
  snprintf(text, sizeof text, "%.9g", static_cast<double>(f));
  return text;
}

std::string Base64(const uint8_t* data, size_t size) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < size; i += 3) {
    const uint32_t b = static_cast<uint32_t>(data[i]) << 16 |
                       (i + 1 < size ? static_cast<uint32_t>(data[i + 1]) << 8 : 0) |
                       (i + 2 < size ? static_cast<uint32_t>(data[i + 2]) : 0);
    out += kAlphabet[b >> 18 & 63];
    out += kAlphabet[b >> 12 & 63];
    out += i + 1 < size ? kAlphabet[b >> 6 & 63] : '=';
    out += i + 2 < size ? kAlphabet[b & 63] : '=';
  }
  return out;
}

// "Drum Bus Glue" -> "drum-bus-glue": file stem and URI tail of a preset.
std::string Stem(const char* name) {
  std::string out;
  for (const char* c = name; *c; ++c) {
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    if ((lower >= 'a' && lower <= 'z') || (lower >= '0' && lower <= '9'))
      out += lower;
    else if (!out.empty() && out.back() != '-')
      out += '-';
  }
  while (!out.empty() && out.back() == '-') out.pop_back();
  return out;
}

const char* UnitUri(lv2ports::PortUnit unit) {
  switch (unit) {
    case lv2ports::PortUnit::Decibels: return "units:db";
    case lv2ports::PortUnit::Milliseconds: return "units:ms";
    case lv2ports::PortUnit::Hertz: return "units:hz";
    case lv2ports::PortUnit::Percent: return "units:pc";
    default: return nullptr;
  }
}

bool WriteFile(const std::string& path, const std::string& text, std::string& error) {
  const std::string pending = path + ".partial";
  FILE* file = fopen(pending.c_str(), "wb");
  bool ok = file && fwrite(text.data(), 1, text.size(), file) == text.size();
  if (file && fclose(file) != 0) ok = false;
  if (ok && rename(pending.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) {
    error = "cannot write '" + path + "': " + strerror(errno);
    remove(pending.c_str());
  }
  return ok;
}

bool MakeFolder(const std::string& path, std::string& error) {
  if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
  error = "cannot make '" + path + "': " + strerror(errno);
  return false;
}

std::string PluginTtl(Kestrune& plug, const lv2ttl::BundleExtras& extras, std::string& error) {
  std::ostringstream t;
  t << kPrefixes;
  for (const std::string& p : extras.prefixes) t << p << "\n";
  const int major = kestrune::kVersion >> 16 & 0xFF;
  const int minor = kestrune::kVersion >> 8 & 0xFF;
  const int patch = kestrune::kVersion & 0xFF;
  t << "\n<" << lv2ports::kPluginUri << ">\n"
    << "  a lv2:Plugin, lv2:CompressorPlugin, doap:Project ;\n"
    << "  doap:name " << Quoted(plug.EffectName()) << " ;\n"
    << "  doap:license <https://spdx.org/licenses/GPL-3.0-or-later> ;\n"
    // The maker by name only: it publishes no e-mail address or web page,
    // and LV2 asks a project for its doap:name alone (lv2core.meta.ttl,
    // lv2:project: "a project that contains plugins SHOULD always have a
    // doap:name"), so lv2lint's warnings about foaf:mbox and foaf:homepage
    // stay until there is a real one to write.
    << "  doap:maintainer [ a foaf:Organization ; foaf:name " << Quoted(plug.MakerName()) << " ] ;\n"
    << "  doap:release [ doap:revision " << Quoted(std::to_string(major) + "." + std::to_string(minor) +
                                                   "." + std::to_string(patch)) << " ] ;\n"
    // LV2 versions are minor.micro, even for releases: the product version
    // folded so that every release compares higher than the one before.
    << "  lv2:minorVersion " << 2 * (major * 100 + minor) << " ;\n"
    << "  lv2:microVersion " << 2 * patch << " ;\n"
    << "  lv2:optionalFeature lv2:hardRTCapable, urid:map, opts:options";
  for (const std::string& f : extras.optionalFeatures) t << ", <" << f << ">";
  t << " ;\n  opts:supportedOption bufsz:maxBlockLength ;\n"
    << "  lv2:extensionData state:interface";
  for (const std::string& e : extras.extensionData) t << ", <" << e << ">";
  t << " ;\n  lv2:port";

  std::vector<std::string> ports;
  for (const lv2ports::AudioPort& a : lv2ports::kAudioPorts) {
    std::ostringstream p;
    p << "[\n    a lv2:AudioPort, " << (a.input ? "lv2:InputPort" : "lv2:OutputPort") << " ;\n"
      << "    lv2:index " << a.index << " ;\n    lv2:symbol " << Quoted(a.symbol) << " ;\n"
      << "    lv2:name " << Quoted(a.name);
    if (a.sidechain) p << " ;\n    lv2:portProperty lv2:isSideChain, lv2:connectionOptional";
    p << "\n  ]";
    ports.push_back(p.str());
  }
  std::vector<std::string> symbols;
  for (int i = 0; i < plug.ParamCount(); ++i) {
    const lv2ports::ControlPort c = lv2ports::DescribeParamPort(plug, i);
    if (!lv2ports::IsValidSymbol(c.symbol)) {
      error = "parameter " + std::to_string(i) + " has no valid port symbol";
      return "";
    }
    for (const std::string& s : symbols)
      if (s == c.symbol) error = "port symbol '" + s + "' is used twice";
    if (!error.empty()) return "";
    symbols.push_back(c.symbol);
    std::ostringstream p;
    p << "[\n    a lv2:InputPort, lv2:ControlPort ;\n"
      << "    lv2:index " << c.index << " ;\n    lv2:symbol " << Quoted(c.symbol) << " ;\n"
      << "    lv2:name " << Quoted(c.name) << " ;\n";
    if (c.enabledDesignation) p << "    lv2:designation lv2:enabled ;\n";
    if (c.integer || c.toggled) {
      p << "    lv2:default " << std::lround(c.defaultValue) << " ;\n"
        << "    lv2:minimum " << std::lround(c.minimum) << " ;\n"
        << "    lv2:maximum " << std::lround(c.maximum);
    } else {
      p << "    lv2:default " << Number(c.defaultValue) << " ;\n"
        << "    lv2:minimum " << Number(c.minimum) << " ;\n"
        << "    lv2:maximum " << Number(c.maximum);
    }
    std::vector<std::string> properties;
    if (c.toggled) properties.push_back("lv2:toggled");
    if (c.integer) properties.push_back("lv2:integer");
    if (c.enumeration) properties.push_back("lv2:enumeration");
    if (c.logarithmic) properties.push_back("pprops:logarithmic");
    for (size_t k = 0; k < properties.size(); ++k)
      p << (k == 0 ? " ;\n    lv2:portProperty " : ", ") << properties[k];
    if (const char* unit = UnitUri(c.unit)) p << " ;\n    units:unit " << unit;
    for (size_t k = 0; k < c.scalePoints.size(); ++k) {
      p << (k == 0 ? " ;\n    lv2:scalePoint " : ", ") << "[ rdfs:label "
        << Quoted(c.scalePoints[k].label) << " ; rdf:value " << std::lround(c.scalePoints[k].value)
        << " ]";
    }
    p << "\n  ]";
    ports.push_back(p.str());
  }
  {
    std::ostringstream p;
    p << "[\n    a lv2:OutputPort, lv2:ControlPort ;\n"
      << "    lv2:index " << lv2ports::kGainReductionPort << " ;\n"
      << "    lv2:symbol " << Quoted(lv2ports::kGainReductionSymbol) << " ;\n"
      << "    lv2:name \"Gain Reduction\" ;\n"
      << "    lv2:default 0.0 ;\n    lv2:minimum 0.0 ;\n"
      << "    lv2:maximum " << Number(lv2ports::kMaxGainReductionDb) << " ;\n"
      << "    units:unit units:db\n  ]";
    ports.push_back(p.str());
  }
  for (size_t k = 0; k < ports.size(); ++k) t << (k == 0 ? " " : ", ") << ports[k];
  t << " .\n";
  // The key the state is stored under, so a saved state's property is known.
  t << "\n<" << lv2ports::kStateKeyUri << ">\n  a rdf:Property ;\n"
    << "  rdfs:label \"Kestrune state\" ;\n"
    << "  rdfs:comment \"The parameter values and the host bypass, as every format saves them.\" .\n";
  if (!extras.pluginStatements.empty()) t << "\n" << extras.pluginStatements << "\n";
  return t.str();
}

// A fresh instance with `preset` applied as a restored state would apply
// it; false when a value does not come out as the preset says.
bool ApplyPreset(Kestrune& plug, const kestrune::FactoryPreset& preset, std::string& error) {
  for (int s = 0; s < preset.settingCount; ++s) {
    const kestrune::PresetSetting& setting = preset.settings[s];
    PlugParam* param = plug.ParamAt(setting.param);
    if (!param) {
      error = std::string("preset '") + preset.name + "' sets an unknown parameter";
      return false;
    }
    param->SetClamped(setting.plainValue);
    plug.ParamChanged(setting.param);
    if (param->value != setting.plainValue) {
      error = std::string("preset '") + preset.name + "': " + param->name + " does not take " +
              std::to_string(setting.plainValue);
      return false;
    }
  }
  return true;
}

std::string PresetTtl(Kestrune& plug, const kestrune::FactoryPreset& preset, const std::string& uri,
                      std::string& error) {
  StateChunk blob;
  if (!SaveHostState(plug, blob)) {
    error = std::string("preset '") + preset.name + "': no state";
    return "";
  }
  std::ostringstream t;
  t << kPrefixes << "\n<" << uri << ">\n"
    << "  a pset:Preset ;\n"
    << "  lv2:appliesTo <" << lv2ports::kPluginUri << "> ;\n"
    << "  rdfs:label " << Quoted(preset.name) << " ;\n"
    << "  rdfs:comment " << Quoted(preset.description) << " ;\n"
    << "  lv2:port";
  for (int i = 0; i < plug.ParamCount(); ++i) {
    t << (i == 0 ? " " : ", ") << "[ lv2:symbol " << Quoted(lv2ports::ParamSymbol(i))
      << " ; pset:value " << Number(lv2ports::PortValueFor(plug, i, plug.ParamAt(i)->value)) << " ]";
  }
  t << " ;\n  state:state [\n    <" << lv2ports::kStateKeyUri << "> "
    << Quoted(Base64(blob.Data(), static_cast<size_t>(blob.Size()))) << "^^xsd:base64Binary\n  ] .\n";
  return t.str();
}

bool Generate(const std::string& bundle, std::string& error) {
  lv2ttl::BundleExtras extras;
  lv2ttl::AddBundleExtras(extras);

  Kestrune table(IEffectBase::kApiLv2);
  const std::string plugin = PluginTtl(table, extras, error);
  if (plugin.empty()) return false;

  std::ostringstream manifest;
  manifest << kPrefixes;
  for (const std::string& p : extras.prefixes) manifest << p << "\n";
  manifest << "\n<" << lv2ports::kPluginUri << ">\n  a lv2:Plugin ;\n"
           << "  lv2:binary <" << lv2ports::kBinaryName << "> ;\n"
           << "  rdfs:seeAlso <" << lv2ports::kTtlName << "> .\n";

  if (!MakeFolder(bundle, error) || !MakeFolder(bundle + "/presets", error)) return false;
  for (const kestrune::FactoryPreset& preset : kestrune::kFactoryPresets) {
    const std::string stem = Stem(preset.name);
    const std::string uri = lv2ports::kPresetUriPrefix + stem;
    Kestrune plug(IEffectBase::kApiLv2);
    if (!ApplyPreset(plug, preset, error)) return false;
    const std::string text = PresetTtl(plug, preset, uri, error);
    if (text.empty() || !WriteFile(bundle + "/presets/" + stem + ".ttl", text, error)) return false;
    manifest << "\n<" << uri << ">\n  a pset:Preset ;\n"
             << "  lv2:appliesTo <" << lv2ports::kPluginUri << "> ;\n"
             << "  rdfs:label " << Quoted(preset.name) << " ;\n"
             << "  rdfs:seeAlso <presets/" << stem << ".ttl> .\n";
  }
  if (!extras.manifestStatements.empty()) manifest << "\n" << extras.manifestStatements << "\n";

  return WriteFile(bundle + "/" + lv2ports::kTtlName, plugin, error) &&
         WriteFile(bundle + "/manifest.ttl", manifest.str(), error);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || argv[1][0] == '-') {
    fprintf(stderr, "usage: kestrune-lv2ttl BUNDLE_DIR\n");
    return 2;
  }
  std::string error;
  if (!Generate(argv[1], error)) {
    fprintf(stderr, "kestrune-lv2ttl: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
