// Without the 2x and 3x images: the editor resamples the 1x ones. Weak where
// the object format has weak symbols, so that a target linking the packs
// (win/ImagePacksEmbeddedWin.cpp) gets them instead.
#include "ImagePacks.h"

#if defined(__ELF__)
__attribute__((weak))
#endif
bool FindImagePack(int, const unsigned char**, size_t*) {
  return false;
}
