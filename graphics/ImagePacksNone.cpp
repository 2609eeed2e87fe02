// Builds without 2x and 3x images: the editor resamples the 1x ones.
#include "ImagePacks.h"

bool FindImagePack(int, const unsigned char**, size_t*) { return false; }
