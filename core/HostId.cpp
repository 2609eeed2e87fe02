#include "HostId.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {
struct NamePattern {
  const char* substring;
  HostId host;
};

// Order matters: the first substring found anywhere in the name wins.
constexpr NamePattern kPatterns[] = {
    {"cubase", HostCubase},         {"reaper", HostReaper},
    {"nuendo", HostNuendo},         {"cakewalk", HostCakewalk},
    {"samplitude", HostSamplitude}, {"fruity", HostFruity},
    {"live", HostLive},             {"melodyne", HostMelodyne},
    {"vstmanlib", HostVstManLib},   {"aulab", HostAuLab},
    {"garageband", HostGarageBand}, {"forte", HostForte},
    {"chainer", HostChainer},       {"audition", HostAudition},
    {"orion", HostOrion},           {"sawstudio", HostSawStudio},
    {"logic", HostLogic},           {"digital", HostDigital},
    {"audiomulch", HostAudioMulch}, {"presonus", HostPresonus},
    {"vst3plugintesthost", HostVst3TestHost},
    {"protools", HostProTools},     {"ardour", HostArdour},
    {"openmpt", HostOpenMpt},       {"renoise", HostRenoise},
    {"standalone", HostStandalone},
};

constexpr size_t kMaxNameLength = 255;
}  // namespace

HostId HostIdFromName(const char* productName) {
  if (!productName) return HostUnknown;
  char lower[kMaxNameLength + 1];
  size_t n = 0;
  for (; n < kMaxNameLength && productName[n]; ++n)
    lower[n] = static_cast<char>(tolower(static_cast<unsigned char>(productName[n])));
  lower[n] = '\0';
  for (const NamePattern& p : kPatterns)
    if (strstr(lower, p.substring)) return p.host;
  return HostUnknown;
}

int32_t PackVendorVersion(int32_t v) {
  return v + 156 * ((v % 10000) / 100) + 55536 * (v / 10000);
}

void FormatHostVersion(int32_t packed, char* out, size_t outSize) {
  if (!out || outSize == 0) return;
  snprintf(out, outSize, "v%d.%d.%d", (packed >> 16) & 0xFF, (packed >> 8) & 0xFF,
           packed & 0xFF);
}

bool HostNeedsStereoOnly(HostId host) {
  return host == HostForte || host == HostAudition || host == HostOrion ||
         host == HostSawStudio;
}
