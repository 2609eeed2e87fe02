// Stand-in for builds without libpng (the Windows cross-build for now): every
// image is refused, so controls draw nothing while the editor and the audio
// keep working.
#include "PngCodec.h"

#include "PIX_Bitmap.h"

bool PngDecoderAvailable() { return false; }

PIX_MemBitmap* LoadPngFromMemory(const unsigned char*, size_t) { return nullptr; }

bool WriteBitmapPng(PIX_IBitmap*, const char*) { return false; }
