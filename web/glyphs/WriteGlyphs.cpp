// kestrune-web-glyphs OUTPUT: writes the glyph table (GlyphTable.h) of every
// text style the editor's controls have, at 1x and 2x, with printable ASCII,
// as this build's rasterizer draws them: the web page's editor draws its text
// from it. Part of the release build; not installed.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "GlyphTable.h"
#include "IGraphics.h"
#include "Kestrune.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kestrune-web-glyphs OUTPUT\n");
    return 2;
  }
  Kestrune plug(IEffectBase::kApiVst3);
  auto* editor = dynamic_cast<IGraphics*>(plug.Editor());
  if (!editor) {
    std::fprintf(stderr, "kestrune-web-glyphs: this build has no editor\n");
    return 1;
  }
  std::vector<unsigned char> table;
  std::vector<std::string> written;
  for (double scale : {1.0, 2.0}) {
    editor->SetScale(scale);
    for (int i = 0; i < editor->ControlCount(); ++i) {
      const TextStyle style = editor->ScaledStyle(editor->ControlAt(i)->Style());
      const std::string key = std::string(style.fontName) + "/" + std::to_string(style.size) +
                              "/" + std::to_string(style.style) + "/" +
                              std::to_string(style.quality);
      bool seen = false;
      for (const std::string& k : written) seen = seen || k == key;
      if (seen) continue;
      written.push_back(key);
      std::unique_ptr<GlyphRasterizer> rasterizer =
          CreateGlyphRasterizer(style.fontName, style.size, style.style, style.quality);
      if (!rasterizer) {
        std::fprintf(stderr, "kestrune-web-glyphs: no font for %s\n", key.c_str());
        return 1;
      }
      AppendTableFont(&table, style.fontName, style.size, style.style, style.quality, *rasterizer,
                      0x20, 0x7E);
    }
  }
  FILE* file = std::fopen(argv[1], "wb");
  const bool ok = file && std::fwrite(table.data(), 1, table.size(), file) == table.size();
  if (file && std::fclose(file) != 0) return 1;
  if (!ok) {
    std::fprintf(stderr, "kestrune-web-glyphs: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
