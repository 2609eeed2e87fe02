#include "GraphicsTypes.h"

#include <cstring>

TextStyle::TextStyle(const char* name, int textSize, ArgbColor textColour, int textStyle,
                     int align)
    : size(textSize), colour(textColour), style(textStyle), alignment(align) {
  SetFontName(name);
}

void TextStyle::SetFontName(const char* name) {
  if (!name) name = "";
  size_t n = strnlen(name, kFontNameSize - 1);
  std::memcpy(fontName, name, n);
  fontName[n] = '\0';
}
