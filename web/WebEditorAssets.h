// The editor's images and glyphs as the page hands them in (WebExports.cpp),
// copied; each false when refused. Images must be in before an instance that
// draws its editor is made: the editor looks them up as it is built.
#pragma once

#include <cstddef>

// A 1x image, by the resource identifier the editor loads it with; decoded
// now, and refused when it does not decode.
bool AddEditorImage(int resourceId, const unsigned char* png, size_t length);
// True once any image is in: instances made from then on build the editor.
bool EditorImagesHandedIn();
// The pack of images drawn at `scale` (2 or 3), as kestrune-imagegen wrote it.
bool SetEditorImagePack(int scale, const unsigned char* pack, size_t length);
// The glyph table kestrune-web-glyphs wrote.
bool SetEditorGlyphs(const unsigned char* table, size_t length);
