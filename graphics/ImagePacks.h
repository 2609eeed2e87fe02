// The editor images drawn at 2x and 3x: one pack per scale, each frame of
// each filmstrip a PNG of its own (kestrune-imagegen --scale writes them).
// Linux modules read them from files installed beside them
// (ImagePacksFile.cpp); the Windows modules embed them (win/ImagePacksEmbeddedWin.cpp).
// Where there are none, or they are damaged, the editor resamples its 1x
// images instead.
#pragma once

#include <cstddef>

// One image of a pack: its frames' size in pixels and where each frame's PNG
// lies. Frame k's bytes are pack + offsets[2k], offsets[2k + 1] long.
struct PackedImage {
  int scale = 0;
  int frameWidth = 0;
  int frameHeight = 0;
  int frameCount = 0;
  const unsigned char* pack = nullptr;
  size_t packLength = 0;
  const unsigned char* table = nullptr;  // frameCount pairs of little-endian u32
};

// The pack for `scale` (2 or 3), or false when this module has none. The
// bytes stay valid while the module is loaded; they are untrusted.
bool FindImagePack(int scale, const unsigned char** data, size_t* length);

// Looks `name` (the file name without folder and ".png", as "BG") up in a
// pack. False for a pack that is not well formed, or without the image.
bool FindPackedImage(const unsigned char* pack, size_t length, const char* name,
                     PackedImage* image);
// The PNG bytes of frame `frame` (0-based); false when they lie outside the pack.
bool PackedFrame(const PackedImage& image, int frame, const unsigned char** png, size_t* length);
