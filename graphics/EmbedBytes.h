// KESTRUNE_EMBED(symbol, path): the file at `path` (a string literal) built
// into the object byte for byte by the assembler's .incbin, as read-only
// data from `symbol` to `symbol_end`; KESTRUNE_EMBEDDED(symbol) declares
// both. The compiler (and ccache) see only the path: whatever embeds a file
// must be rebuilt when it changes (OBJECT_DEPENDS).
#pragma once

#if defined(__ELF__)
// Hidden: the bytes never leave the module.
#define KESTRUNE_EMBED_SECTION ".pushsection .rodata\n"
#define KESTRUNE_EMBED_SECTION_END ".popsection\n"
#define KESTRUNE_EMBED_HIDDEN(symbol) ".hidden " #symbol "\n"
#define KESTRUNE_EMBEDDED(symbol) \
  extern "C" __attribute__((visibility("hidden"))) const unsigned char symbol[], symbol##_end[]
#else
// PE has no symbol visibility; its read-only data is .rdata.
#define KESTRUNE_EMBED_SECTION ".section .rdata,\"dr\"\n"
#define KESTRUNE_EMBED_SECTION_END ".text\n"
#define KESTRUNE_EMBED_HIDDEN(symbol) ""
#define KESTRUNE_EMBEDDED(symbol) extern "C" const unsigned char symbol[], symbol##_end[]
#endif

#define KESTRUNE_EMBED(symbol, path)                                                         \
  asm(KESTRUNE_EMBED_SECTION ".balign 16\n" KESTRUNE_EMBED_HIDDEN(symbol) ".globl " #symbol \
      "\n" #symbol ":\n.incbin \"" path "\"\n" KESTRUNE_EMBED_HIDDEN(symbol##_end)          \
      ".globl " #symbol "_end\n" #symbol "_end:\n" KESTRUNE_EMBED_SECTION_END)
