// Host identification: which application loaded the plug-in, from its
// product string, and the host's version packed as 0xMMmmrr.
#pragma once

#include <cstddef>
#include <cstdint>

enum HostId : int32_t {
  HostUnidentified = -1,
  HostUnknown = 0,
  HostReaper = 1,
  HostProTools = 2,
  HostCubase = 3,
  HostNuendo = 4,
  HostCakewalk = 5,
  HostFruity = 7,
  HostSamplitude = 8,
  HostLive = 9,
  HostMelodyne = 12,
  HostVstManLib = 13,
  HostAuLab = 14,
  HostForte = 15,
  HostChainer = 16,
  HostAudition = 17,
  HostOrion = 18,
  HostSawStudio = 20,
  HostLogic = 21,
  HostGarageBand = 22,
  HostDigital = 23,
  HostStandalone = 24,
  HostAudioMulch = 25,
  HostPresonus = 26,
  HostVst3TestHost = 27,
  HostArdour = 28,
  HostRenoise = 29,
  HostOpenMpt = 30,
};

// Case-insensitive substring match against the known product names, in a
// fixed order: the first contained substring decides ("cubase" before
// "reaper", "live" also inside other words). Unknown or empty: HostUnknown.
HostId HostIdFromName(const char* productName);

// A VST2 host's vendor version MMmmrr (decimal) as 0xMMmmrr.
int32_t PackVendorVersion(int32_t decimalVersion);

// "vMM.mm.rr" of a packed version, for tracing.
void FormatHostVersion(int32_t packedVersion, char* out, size_t outSize);

// True for the hosts that only get stereo channel handling.
bool HostNeedsStereoOnly(HostId host);
