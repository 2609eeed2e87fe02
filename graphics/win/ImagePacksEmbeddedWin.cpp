// The 2x and 3x packs built into a Windows module byte for byte, as the
// native build drew them (paths from the build: KESTRUNE_PACK_2X,
// KESTRUNE_PACK_3X). PE has no ELF visibility: read-only data in .rdata.
#include "ImagePacks.h"

#define KESTRUNE_EMBED(symbol, path)                                                    \
  asm(".section .rdata,\"dr\"\n.balign 16\n.global " #symbol "\n" #symbol ":\n.incbin \"" path \
      "\"\n.global " #symbol "_end\n" #symbol "_end:\n.text\n")

KESTRUNE_EMBED(kestrune_pack_2x, KESTRUNE_PACK_2X);
KESTRUNE_EMBED(kestrune_pack_3x, KESTRUNE_PACK_3X);

extern "C" {
extern const unsigned char kestrune_pack_2x[], kestrune_pack_2x_end[];
extern const unsigned char kestrune_pack_3x[], kestrune_pack_3x_end[];
}

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
