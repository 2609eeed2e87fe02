// The 2x and 3x packs built into a Windows module byte for byte, as the
// native build drew them (paths from the build: KESTRUNE_PACK_2X,
// KESTRUNE_PACK_3X).
#include "EmbedBytes.h"
#include "ImagePacks.h"

KESTRUNE_EMBED(kestrune_pack_2x, KESTRUNE_PACK_2X);
KESTRUNE_EMBED(kestrune_pack_3x, KESTRUNE_PACK_3X);
KESTRUNE_EMBEDDED(kestrune_pack_2x);
KESTRUNE_EMBEDDED(kestrune_pack_3x);

bool FindImagePack(int scale, const unsigned char** data, size_t* length) {
  if (!data || !length) return false;
  if (scale == 2) {
    *data = kestrune_pack_2x;
    *length = static_cast<size_t>(kestrune_pack_2x_end - kestrune_pack_2x);
  } else if (scale == 3) {
    *data = kestrune_pack_3x;
    *length = static_cast<size_t>(kestrune_pack_3x_end - kestrune_pack_3x);
  } else {
    return false;
  }
  return true;
}
