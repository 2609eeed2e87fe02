// Draws the sixteen editor images (background, knob and switch filmstrips,
// gain-reduction meter) into resources/img/. Run after changing the look:
//   kestrune-imagegen <repository>/resources/img
//   kestrune-imagegen --scale 2|3 <folder>
// draws the same images at 2x or 3x into <folder>/Kestrune@<N>x.pack; the
// build does this itself (only the 1x images are committed).
// The sizes and frame counts must match the editor layout exactly.
//   kestrune-imagegen --installer <folder>
// draws the Windows installer's artwork at build time: Kestrune.ico (the
// installer's and uninstaller's icon) and Wizard.bmp (the welcome page).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Canvas.h"
#include "PngCodec.h"

namespace {

constexpr float kPi = 3.14159265358979f;
const Rgba kAmber = Hex(0xF2A33A);
const Rgba kLabel = Hex(0xE4E7EB);
const Rgba kLegend = Hex(0x9AA2AC);
const Rgba kTick = Hex(0x8D949D);

// The scale the images are drawn at; above 1 their frames go into one pack.
int gScale = 1;

struct PackFrame {
  std::vector<uint8_t> png;
};
struct PackImage {
  std::string name;
  int frameWidth = 0, frameHeight = 0;
  std::vector<PackFrame> frames;
};
std::vector<PackImage> gPack;

bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  bytes->clear();
  unsigned char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes->insert(bytes->end(), buffer, buffer + n);
  std::fclose(file);
  return true;
}

// At 1x a filmstrip is one PNG, as the editor has always loaded it. At 2x and
// 3x every frame is a PNG of its own, so an editor decodes only the frames it
// shows (a whole 2x strip set would take some 50 MB decoded).
void Emit(const std::string& dir, const char* name, const Canvas& strip, int frames) {
  if (gScale == 1) {
    strip.WritePng(dir + "/" + name + ".png");
    return;
  }
  PackImage image;
  image.name = name;
  image.frameWidth = strip.Width();
  image.frameHeight = strip.Height() / frames;
  const std::vector<unsigned> pixels = strip.Pixels();
  const std::string temp = dir + "/.frame.png";
  for (int k = 0; k < frames; ++k) {
    const unsigned* first = pixels.data() + static_cast<size_t>(k) * image.frameHeight * image.frameWidth;
    PackFrame frame;
    // Level 4: a third of the time of 9 for a few per cent more bytes.
    if (!WriteArgbPng(first, image.frameWidth, image.frameHeight, image.frameWidth, temp.c_str(), 4) ||
        !ReadFile(temp, &frame.png)) {
      std::fprintf(stderr, "cannot write %s\n", temp.c_str());
      std::exit(1);
    }
    image.frames.push_back(std::move(frame));
  }
  std::remove(temp.c_str());
  gPack.push_back(std::move(image));
}

float Rad(float degrees) { return degrees * kPi / 180.0f; }

// Angle of (x, y) around (cx, cy), in degrees clockwise from straight up.
float AngleOf(float x, float y, float cx, float cy) {
  return std::atan2(x - cx, -(y - cy)) * 180.0f / kPi;
}

// Small deterministic noise in -1..1.
float Noise(int x, int y) {
  unsigned h = static_cast<unsigned>(x) * 374761393u + static_cast<unsigned>(y) * 668265263u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return ((h ^ (h >> 16)) & 0xFFFF) / 32767.5f - 1.0f;
}

// A ring segment from angle a0 to a1 (degrees, clockwise from up) with round
// ends, at mid radius rm and half width hw.
float ArcDistance(float x, float y, float cx, float cy, float rm, float hw, float a0, float a1) {
  float r = std::hypot(x - cx, y - cy);
  float a = AngleOf(x, y, cx, cy);
  if (a >= a0 && a <= a1) return std::fabs(r - rm) - hw;
  auto end = [&](float ang) {
    float ex = cx + rm * std::sin(Rad(ang)), ey = cy - rm * std::cos(Rad(ang));
    return std::hypot(x - ex, y - ey) - hw;
  };
  return std::min(end(a0), end(a1));
}

struct KnobLook {
  float radius;       // outer radius of the knob body
  bool valueArc;      // amber arc showing the value
  bool bipolar;       // the arc starts at the top
  float arcRadius;    // mid radius of the arc track
};

void DrawKnob(Canvas& c, float cx, float cy, const KnobLook& look, float value) {
  const float R = look.radius;
  const float angle = -135.0f + 270.0f * value;
  const float box = R + 12;
  // Arc track and value arc.
  if (look.valueArc) {
    c.Fill(cx - box, cy - box, cx + box, cy + box,
           [&](float x, float y) { return ArcDistance(x, y, cx, cy, look.arcRadius, 1.6f, -135, 135); },
           Hex(0x0B0C0E, 0.9f));
    float a0 = look.bipolar ? std::min(0.0f, angle) : -135.0f;
    float a1 = look.bipolar ? std::max(0.0f, angle) : angle;
    if (a1 - a0 > 0.5f) {
      c.Shadow(cx - box, cy - box, cx + box, cy + box,
               [&](float x, float y) { return ArcDistance(x, y, cx, cy, look.arcRadius, 1.2f, a0, a1); },
               3.0f, 0.0f);
      c.Fill(cx - box, cy - box, cx + box, cy + box,
             [&](float x, float y) { return ArcDistance(x, y, cx, cy, look.arcRadius, 1.25f, a0, a1); },
             kAmber);
    }
  }
  // Drop shadow under the body.
  c.Shadow(cx - box, cy - box + 3, cx + box, cy + box + 3,
           [&](float x, float y) { return CircleDistance(x, y, cx, cy + 2.5f, R - 1); }, R * 0.35f,
           0.75f);
  // Knurled skirt.
  c.Fill(cx - R - 1, cy - R - 1, cx + R + 1, cy + R + 1,
         [&](float x, float y) { return CircleDistance(x, y, cx, cy, R); },
         [&](float x, float y) {
           float t = (y - (cy - R)) / (2 * R);
           Rgba base = Mix(Hex(0x3A3E44), Hex(0x121315), t);
           float a = AngleOf(x, y, cx, cy) - angle;
           float ridge = 0.5f + 0.5f * std::cos(Rad(a) * 40.0f);
           return Mix(base, Hex(0x08090A), ridge * 0.45f);
         });
  // Brushed cap with a fixed light from above.
  const float cap = R * 0.76f;
  c.Fill(cx - cap - 1, cy - cap - 1, cx + cap + 1, cy + cap + 1,
         [&](float x, float y) { return CircleDistance(x, y, cx, cy, cap); },
         [&](float x, float y) {
           float t = (y - (cy - cap)) / (2 * cap);
           Rgba base = Mix(Hex(0x6B7078), Hex(0x2E3136), t);
           float a = Rad(AngleOf(x, y, cx, cy));
           float sheen = 0.5f + 0.5f * std::cos(2.0f * a);
           float r = std::hypot(x - cx, y - cy);
           float rings = 0.04f * std::sin(r * 2.7f);
           Rgba lit = Mix(base, Hex(0x9CA2AA), sheen * 0.28f + rings);
           return lit;
         });
  // Rim light on the cap's upper edge and a dark lower edge.
  c.Fill(cx - cap - 1, cy - cap - 1, cx + cap + 1, cy + cap + 1,
         [&](float x, float y) { return ArcDistance(x, y, cx, cy, cap - 0.5f, 0.6f, -70, 70); },
         Hex(0xC8CDD3, 0.55f));
  // Pointer.
  float sx = std::sin(Rad(angle)), sy = -std::cos(Rad(angle));
  float p0 = R * 0.30f, p1 = R * 0.93f, hw = std::max(1.1f, R * 0.055f);
  c.Fill(cx - R, cy - R, cx + R, cy + R,
         [&](float x, float y) {
           return SegmentDistance(x, y, cx + sx * p0, cy + sy * p0 + 0.8f, cx + sx * p1,
                                  cy + sy * p1 + 0.8f, hw);
         },
         Hex(0x000000, 0.5f));
  c.Fill(cx - R, cy - R, cx + R, cy + R,
         [&](float x, float y) {
           return SegmentDistance(x, y, cx + sx * p0, cy + sy * p0, cx + sx * p1, cy + sy * p1, hw);
         },
         Hex(0xF6F1E4));
}

// A filmstrip of `frames` knob positions, frame k showing value (k-1)/(frames-1).
void KnobStrip(const std::string& dir, const char* name, int w, int h, int frames,
               const KnobLook& look, float cx, float cy) {
  Canvas strip(w, h * frames, gScale);
  for (int k = 0; k < frames; ++k) {
    Canvas frame(w, h, gScale);
    DrawKnob(frame, cx, cy, look, frames > 1 ? static_cast<float>(k) / (frames - 1) : 0.0f);
    strip.Paste(frame, 0, k * h);
  }
  Emit(dir, name, strip, frames);
}

// An illuminated push button; lit shows the state unmistakably.
void ButtonStrip(const std::string& dir, const char* name, Rgba lamp) {
  const int w = 66, h = 68;
  Canvas strip(w, h * 2, gScale);
  for (int k = 0; k < 2; ++k) {
    Canvas c(w, h, gScale);
    bool lit = k == 1;
    float x0 = 9, y0 = 9, x1 = 57, y1 = 59, r = 8;
    if (lit)
      c.Shadow(0, 0, w, h, [&](float x, float y) { return RoundRectDistance(x, y, x0, y0, x1, y1, r); },
               9.0f, 0.0f);
    if (lit)
      c.Wash(0, 0, w, h,
             [&](float x, float y) {
               float d = RoundRectDistance(x, y, x0, y0, x1, y1, r);
               return d > 0 ? 0.55f * std::exp(-d / 3.2f) : 0.0f;
             },
             lamp);
    c.Shadow(0, 0, w, h, [&](float x, float y) { return RoundRectDistance(x, y, x0, y0 + 2.5f, x1, y1 + 2.5f, r); },
             5.0f, 0.8f);
    // Bezel.
    c.Fill(0, 0, w, h, [&](float x, float y) { return RoundRectDistance(x, y, x0, y0, x1, y1, r); },
           [&](float, float y) { return Mix(Hex(0x4A4F56), Hex(0x141517), (y - y0) / (y1 - y0)); });
    // Lens.
    float lx0 = x0 + 4, ly0 = y0 + 4, lx1 = x1 - 4, ly1 = y1 - 4;
    c.Fill(0, 0, w, h, [&](float x, float y) { return RoundRectDistance(x, y, lx0, ly0, lx1, ly1, 5); },
           [&](float x, float y) {
             float dx = (x - (lx0 + lx1) / 2) / ((lx1 - lx0) / 2);
             float dy = (y - (ly0 + ly1) / 2) / ((ly1 - ly0) / 2);
             float centre = 1.0f - std::min(1.0f, std::sqrt(dx * dx + dy * dy) * 0.8f);
             if (lit) {
               Rgba hot = Mix(lamp, Hex(0xFFF6E0), 0.55f);
               return Mix(Mix(lamp, Hex(0x000000), 0.25f), hot, centre);
             }
             Rgba dark = Mix(lamp, Hex(0x15161A), 0.86f);
             return Mix(dark, Mix(lamp, Hex(0x15161A), 0.72f), centre * 0.6f);
           });
    // Glass highlight across the upper half.
    c.Fill(0, 0, w, h,
           [&](float x, float y) {
             return std::max(RoundRectDistance(x, y, lx0 + 1, ly0 + 1, lx1 - 1, ly1 - 1, 4),
                             y - (ly0 + (ly1 - ly0) * 0.42f));
           },
           [&](float, float y) { return Rgba{1, 1, 1, 0.16f * (1 - (y - ly0) / ((ly1 - ly0) * 0.42f))}; });
    strip.Paste(c, 0, k * h);
  }
  Emit(dir, name, strip, 2);
}

// A two-segment selector; frame 1 lights the first segment, frame 2 the second.
void SelectorStrip(const std::string& dir, const char* name, int w, int h, int visibleHeight,
                   const char* first, const char* second) {
  Canvas strip(w, h * 2, gScale);
  for (int k = 0; k < 2; ++k) {
    Canvas c(w, h, gScale);
    float y0 = 1.5f, y1 = visibleHeight - 1.5f;
    c.Fill(0, 0, w, h, [&](float x, float y) { return RoundRectDistance(x, y, 1, y0, w - 1, y1, 5); },
           Hex(0x0B0C0E));
    float mid = w / 2.0f;
    for (int s = 0; s < 2; ++s) {
      bool active = s == k;
      float sx0 = s == 0 ? 3 : mid + 1, sx1 = s == 0 ? mid - 1 : w - 3;
      c.Fill(0, 0, w, h,
             [&](float x, float y) { return RoundRectDistance(x, y, sx0, y0 + 2, sx1, y1 - 2, 3.5f); },
             [&](float, float y) {
               float t = (y - y0) / (y1 - y0);
               return active ? Mix(Hex(0xFFC567), Hex(0xD9861F), t)
                             : Mix(Hex(0x30343A), Hex(0x1C1E22), t);
             });
      float size = visibleHeight > 26 ? 11.5f : 11.0f;
      c.Text(s == 0 ? first : second, (sx0 + sx1) / 2, (y0 + y1) / 2 + 4.2f, size, true,
             active ? Hex(0x1A1206) : Hex(0x7D858F), 1, 0.6f);
    }
    strip.Paste(c, 0, k * h);
  }
  Emit(dir, name, strip, 2);
}

// Gain-reduction meter: needle at rest on the right, deflecting left as the
// reduction (1 - gain) grows; the scale is marked in dB of reduction.
void MeterStrip(const std::string& dir) {
  const int w = 174, h = 95, frames = 61;
  const float px = 87, py = 135;  // needle pivot, below the window
  const float sweep = 42;         // degrees either side of vertical
  auto angleFor = [&](float reduction) { return sweep - 2 * sweep * reduction; };
  auto reductionForDb = [](float db) { return 1.0f - std::pow(10.0f, -db / 20.0f); };
  Canvas face(w, h, gScale);
  // Bezel and backlit face.
  face.Fill(0, 0, w, h, [&](float x, float y) { return RoundRectDistance(x, y, 0, 0, w, h, 7); },
            [&](float, float y) { return Mix(Hex(0x2A2D32), Hex(0x0E0F11), y / h); });
  const float fx0 = 5, fy0 = 5, fx1 = w - 5, fy1 = h - 5;
  face.Fill(0, 0, w, h, [&](float x, float y) { return RoundRectDistance(x, y, fx0, fy0, fx1, fy1, 4); },
            [&](float x, float y) {
              float d = std::hypot((x - w / 2.0f) / w, (y - h * 0.75f) / h);
              return Mix(Hex(0xFBE3AE), Hex(0xC98E3C), std::min(1.0f, d * 1.6f));
            });
  // Scale arc and the red heavy-reduction zone.
  const float rs = 100;
  face.Fill(fx0, fy0, fx1, fy1,
            [&](float x, float y) { return ArcDistance(x, y, px, py, rs, 0.6f, -sweep, sweep); },
            Hex(0x2A1E12));
  face.Fill(fx0, fy0, fx1, fy1,
            [&](float x, float y) {
              return ArcDistance(x, y, px, py, rs + 3.2f, 2.0f, -sweep, angleFor(reductionForDb(10)));
            },
            Hex(0xC2321E));
  struct Mark {
    float db;
    const char* text;
  };
  const Mark marks[] = {{0, "0"}, {1, ""}, {2, "2"}, {3, ""}, {4, "4"}, {6, "6"},
                        {8, ""},  {10, "10"}, {15, ""}, {20, "20"}, {30, ""}};
  for (const Mark& m : marks) {
    float a = Rad(angleFor(reductionForDb(m.db)));
    float sx = std::sin(a), sy = -std::cos(a);
    bool major = m.text[0] != 0;
    float r0 = rs - (major ? 7.0f : 4.5f), r1 = rs + 0.5f;
    face.Fill(fx0, fy0, fx1, fy1,
              [&](float x, float y) {
                return SegmentDistance(x, y, px + sx * r0, py + sy * r0, px + sx * r1, py + sy * r1,
                                       major ? 0.75f : 0.55f);
              },
              Hex(0x2A1E12));
    if (major)
      face.Text(m.text, px + sx * (rs - 14), py + sy * (rs - 14) + 3.5f, 9.5f, true,
                m.db >= 10 ? Hex(0x9E2414) : Hex(0x2A1E12), 1);
  }
  face.Text("GAIN REDUCTION", w / 2.0f, 23, 7.5f, true, Hex(0x4A3622), 1, 1.2f);
  face.Text("dB", w - 14.0f, 82, 7.5f, true, Hex(0x4A3622), 2);
  Canvas strip(w, h * frames, gScale);
  for (int k = 0; k < frames; ++k) {
    Canvas c = face;
    float a = Rad(angleFor(static_cast<float>(k) / (frames - 1)));
    float sx = std::sin(a), sy = -std::cos(a);
    float r0 = 50, r1 = rs + 5;
    auto needle = [&](float ox, float oy, float hw) {
      return [=](float x, float y) {
        return std::max(SegmentDistance(x, y, px + sx * r0 + ox, py + sy * r0 + oy, px + sx * r1 + ox,
                                        py + sy * r1 + oy, hw),
                        RoundRectDistance(x, y, fx0, fy0, fx1, fy1, 4));
      };
    };
    c.Fill(fx0, fy0, fx1, fy1, needle(1.5f, 1.5f, 1.0f), Hex(0x000000, 0.22f));
    c.Fill(fx0, fy0, fx1, fy1, needle(0, 0, 0.75f), Hex(0x17100A));
    // Pivot cover plate along the bottom of the window.
    c.Fill(fx0, fy0, fx1, fy1,
           [&](float x, float y) {
             return std::max(RoundRectDistance(x, y, fx0, fy0, fx1, fy1, 4),
                             CircleDistance(x, y, px, h + 14, 34));
           },
           [&](float, float y) { return Mix(Hex(0x3A3E44), Hex(0x16171A), (y - (h - 22)) / 18); });
    // Glass reflection.
    c.Fill(fx0, fy0, fx1, fy1,
           [&](float x, float y) {
             return std::max(RoundRectDistance(x, y, fx0, fy0, fx1, fy1, 4), (y - fy0) - 0.45f * (fx1 - x) + 10);
           },
           Rgba{1, 1, 1, 0.10f});
    strip.Paste(c, 0, k * h);
  }
  Emit(dir, "VU", strip, frames);
}

// ---------------------------------------------------------------- background

struct KnobPlace {
  float cx, cy;       // centre on the panel
  float tickInner, tickOuter;
  const char* label;
  int labelSide;      // 0 above, 1 below, 2 left
  const char* minText;
  const char* maxText;
};

void Plate(Canvas& c, float x0, float y0, float x1, float y1, const char* title, float titleX) {
  c.Shadow(x0 - 4, y0 - 4, x1 + 4, y1 + 6,
           [&](float x, float y) { return RoundRectDistance(x, y, x0, y0 + 1.5f, x1, y1 + 1.5f, 6); },
           4.0f, 0.6f);
  c.Fill(x0 - 1, y0 - 1, x1 + 1, y1 + 1,
         [&](float x, float y) { return RoundRectDistance(x, y, x0, y0, x1, y1, 6); },
         [&](float x, float y) {
           Rgba base = Mix(Hex(0x2C3035), Hex(0x212428), (y - y0) / (y1 - y0));
           float n = Noise(static_cast<int>(x), static_cast<int>(y) / 3) * 0.012f;
           return Rgba{base.r + n, base.g + n, base.b + n, 1};
         });
  // Edge light on top, dark edge at the bottom.
  c.Fill(x0 - 1, y0 - 1, x1 + 1, y1 + 1,
         [&](float x, float y) {
           return std::fabs(RoundRectDistance(x, y, x0 + 0.5f, y0 + 0.5f, x1 - 0.5f, y1 - 0.5f, 5.5f)) - 0.5f;
         },
         [&](float, float y) { return Mix(Hex(0x4B5159), Hex(0x15171A), (y - y0) / (y1 - y0)); });
  if (title && title[0]) {
    float tw = c.TextWidth(title, 8.5f, true, 1.6f);
    float tx = titleX - tw / 2;
    c.Fill(tx - 8, y0 + 3, tx + tw + 8, y0 + 15,
           [&](float x, float y) { return RoundRectDistance(x, y, tx - 7, y0 + 3.5f, tx + tw + 7, y0 + 14.5f, 3); },
           Hex(0x17191C));
    c.Text(title, titleX, y0 + 12.3f, 8.5f, true, kAmber, 1, 1.6f);
  }
}

void Screw(Canvas& c, float cx, float cy) {
  c.Shadow(cx - 6, cy - 6, cx + 6, cy + 7, [&](float x, float y) { return CircleDistance(x, y, cx, cy + 1, 3.2f); }, 2, 0.7f);
  c.Fill(cx - 5, cy - 5, cx + 5, cy + 5, [&](float x, float y) { return CircleDistance(x, y, cx, cy, 3.5f); },
         [&](float, float y) { return Mix(Hex(0x8A9098), Hex(0x3A3E44), (y - cy + 3.5f) / 7); });
  c.Fill(cx - 5, cy - 5, cx + 5, cy + 5,
         [&](float x, float y) { return SegmentDistance(x, y, cx - 2.4f, cy + 1.2f, cx + 2.4f, cy - 1.2f, 0.55f); },
         Hex(0x1A1C1F));
}

void Ticks(Canvas& c, const KnobPlace& k, int count, bool centreMark) {
  for (int i = 0; i < count; ++i) {
    float a = Rad(-135.0f + 270.0f * i / (count - 1));
    float sx = std::sin(a), sy = -std::cos(a);
    bool major = i == 0 || i == count - 1 || (centreMark && i == count / 2);
    float r0 = k.tickInner, r1 = major ? k.tickOuter + 0.5f : k.tickOuter - 1.0f;
    c.Fill(k.cx - 60, k.cy - 60, k.cx + 60, k.cy + 60,
           [&](float x, float y) {
             return SegmentDistance(x, y, k.cx + sx * r0, k.cy + sy * r0, k.cx + sx * r1, k.cy + sy * r1,
                                    major ? 0.8f : 0.55f);
           },
           major ? Hex(0xB9C0C8) : kTick);
  }
}

void KnobLegends(Canvas& c, const KnobPlace& k, float labelSize) {
  if (k.minText) {
    float a = Rad(-135.0f), r = k.tickOuter;
    c.Text(k.minText, k.cx + std::sin(a) * r - 1, k.cy - std::cos(a) * r + 10, 7.5f, false, kLegend, 1);
  }
  if (k.maxText) {
    float a = Rad(135.0f), r = k.tickOuter;
    c.Text(k.maxText, k.cx + std::sin(a) * r + 1, k.cy - std::cos(a) * r + 10, 7.5f, false, kLegend, 1);
  }
  if (k.labelSide == 0) c.Text(k.label, k.cx, k.cy - k.tickOuter - 7, labelSize, true, kLabel, 1, 1.2f);
  if (k.labelSide == 1) c.Text(k.label, k.cx, k.cy + k.tickOuter + 14, labelSize, true, kLabel, 1, 1.2f);
  if (k.labelSide == 2) c.Text(k.label, k.cx - k.tickOuter - 5, k.cy + 3.5f, labelSize, true, kLabel, 2, 1.0f);
}

void Background(const std::string& dir) {
  const int w = 912, h = 287;
  Canvas c(w, h, gScale);
  // Faceplate: dark anodised metal with a fine horizontal grain.
  c.Fill(0, 0, w, h, [](float, float) { return -10.0f; },
         [&](float x, float y) {
           Rgba base = Mix(Hex(0x1E2024), Hex(0x141518), y / h);
           float n = Noise(static_cast<int>(x) / 7, static_cast<int>(y)) * 0.010f +
                     Noise(static_cast<int>(x), static_cast<int>(y)) * 0.006f;
           return Rgba{base.r + n, base.g + n, base.b + n, 1};
         });
  // Top edge light.
  c.Fill(0, 0, w, 2, [](float, float) { return -10.0f; }, Hex(0x3C4148));

  Plate(c, 6, 6, 82, 150, nullptr, 0);
  Plate(c, 88, 6, 312, 150, "DRIVE", 200);
  Plate(c, 318, 6, 586, 150, "COMPRESSOR", 500);
  Plate(c, 590, 6, 768, 150, nullptr, 0);
  Plate(c, 772, 6, 906, 150, "MODE", 874);
  Plate(c, 6, 156, 104, 254, nullptr, 0);
  Plate(c, 110, 156, 530, 254, "SIDECHAIN EQ", 320);
  Plate(c, 628, 156, 730, 254, "BLEND", 679);
  Plate(c, 736, 156, 906, 254, nullptr, 0);

  // Emblem: a ring with the maker's K, model name beneath.
  {
    float cx = 44, cy = 58;
    c.Shadow(cx - 30, cy - 30, cx + 30, cy + 32, [&](float x, float y) { return CircleDistance(x, y, cx, cy + 2, 24); }, 5, 0.6f);
    c.Fill(cx - 26, cy - 26, cx + 26, cy + 26, [&](float x, float y) { return CircleDistance(x, y, cx, cy, 24); },
           [&](float, float y) { return Mix(Hex(0x3A3F46), Hex(0x15171A), (y - cy + 24) / 48); });
    c.Fill(cx - 26, cy - 26, cx + 26, cy + 26,
           [&](float x, float y) { return std::fabs(CircleDistance(x, y, cx, cy, 19.5f)) - 1.3f; }, kAmber);
    c.Text("K", cx, cy + 8.5f, 23, true, Hex(0xEDEFF2), 1);
    c.Text("KS-1", cx, 108, 11, true, kLabel, 1, 1.5f);
    c.Text("STEREO", cx, 124, 7, false, kLegend, 1, 1.4f);
    c.Text("COMPRESSOR", cx, 134, 7, false, kLegend, 1, 1.0f);
  }

  // Knob scales and labels, centred on the control rectangles of the layout.
  const KnobPlace inK{93 + 39.0f, 47 + 41.5f, 32, 36, "INPUT", 0, "0", "80"};
  const KnobPlace outK{223 + 40.5f, 47 + 41.5f, 32, 36, "OUTPUT", 0, "-30", "+30"};
  const KnobPlace atkK{367 + 29.5f, 20 + 29.5f, 21.5f, 25, "ATTACK", 2, nullptr, nullptr};
  const KnobPlace relK{367 + 29.5f, 94 + 27.0f, 21.5f, 25, "RELEASE", 2, nullptr, nullptr};
  const KnobPlace hpfK{122 + 34.0f, 174 + 33.0f, 26, 30, "HPF", 1, "20", "500"};
  const KnobPlace mgK{232 + 33.0f, 174 + 33.0f, 26, 30, "MID GAIN", 1, "-6", "+6"};
  const KnobPlace mfK{337 + 34.0f, 174 + 33.0f, 26, 30, "MID FREQ", 1, "500", "10k"};
  const KnobPlace hfK{447 + 34.0f, 174 + 33.0f, 26, 30, "HF", 1, "-16", "0"};
  const KnobPlace mixK{641 + 38.0f, 174 + 33.0f, 26, 30, "MIX", 1, "DRY", "WET"};
  Ticks(c, inK, 11, false);
  Ticks(c, outK, 11, true);
  Ticks(c, atkK, 7, false);
  Ticks(c, relK, 7, false);
  Ticks(c, hpfK, 11, false);
  Ticks(c, mgK, 11, true);
  Ticks(c, mfK, 11, false);
  Ticks(c, hfK, 11, false);
  Ticks(c, mixK, 11, false);
  for (const KnobPlace* k : {&inK, &outK}) KnobLegends(c, *k, 10.5f);
  for (const KnobPlace* k : {&atkK, &relK}) KnobLegends(c, *k, 9.0f);
  for (const KnobPlace* k : {&hpfK, &mgK, &mfK, &hfK, &mixK}) KnobLegends(c, *k, 9.0f);
  c.Text("FAST", 396.5f + 18, 20 + 59 + 8, 6.5f, false, kLegend, 1);
  c.Text("SLOW", 396.5f - 18, 20 + 59 + 8, 6.5f, false, kLegend, 1);

  // RATIO: four detented steps.
  {
    float cx = 479 + 49.0f, cy = 37 + 48.0f;
    c.Text("RATIO", cx, 31, 10.5f, true, kLabel, 1, 1.2f);
    const char* steps[] = {"4", "8", "12", "20"};
    for (int i = 0; i < 4; ++i) {
      float a = Rad(-135.0f + 90.0f * i);
      float sx = std::sin(a), sy = -std::cos(a);
      c.Fill(cx - 50, cy - 50, cx + 50, cy + 50,
             [&](float x, float y) { return CircleDistance(x, y, cx + sx * 31, cy + sy * 31, 1.8f); },
             Hex(0xB9C0C8));
      c.Text(steps[i], cx + sx * 40, cy + sy * 40 + 4, 10, true, kLabel, 1);
    }
    c.Text(":1", cx + 46, cy + 44, 7.5f, false, kLegend, 2);
  }

  // Meter bezel and caption.
  c.Shadow(586, 9, 772, 116, [&](float x, float y) { return RoundRectDistance(x, y, 591, 12, 767, 109, 8); }, 4, 0.9f);
  c.Fill(586, 8, 772, 114, [&](float x, float y) { return RoundRectDistance(x, y, 589, 10, 769, 111, 9); },
         [&](float, float y) { return Mix(Hex(0x0C0D0F), Hex(0x40454C), (y - 10) / 101); });
  c.Text("GAIN REDUCTION", 679, 130, 9, true, kLabel, 1, 1.4f);
  c.Text("STEREO LINKED", 679, 142, 7, false, kLegend, 1, 1.2f);

  // MODE column: labels beside the illuminated buttons.
  c.Text("SLAM", 849, 13 + 34 + 4, 10, true, kLabel, 0, 1.0f);
  c.Text("BYPASS", 847, 91 + 34 + 4, 8.5f, true, kLabel, 0, 0.6f);

  // Vent grille between the EQ and the blend.
  for (int i = 0; i < 7; ++i) {
    float y = 172 + i * 11.5f;
    c.Fill(536, y - 4, 622, y + 4, [&](float x, float yy) { return RoundRectDistance(x, yy, 542, y - 2.5f, 616, y + 2.5f, 2.5f); },
           [&](float, float yy) { return Mix(Hex(0x050506), Hex(0x2A2D32), (yy - y + 2.5f) / 5); });
  }

  // Maker panel (bottom left) above the version line drawn by the editor.
  c.Text("MARLOWIND", 55, 186, 8.5f, true, kLabel, 1, 1.6f);
  c.Fill(20, 193, 90, 196, [](float, float y) { return std::fabs(y - 194.5f) - 0.5f; }, Hex(0x4B5159));

  // Brand panel.
  c.Text("KESTRUNE", 821, 199, 21, true, Hex(0xEDEFF2), 1, 2.6f);
  c.Fill(748, 208, 894, 212, [](float, float y) { return std::fabs(y - 209.5f) - 0.6f; }, kAmber);
  c.Text("STEREO BUS COMPRESSOR", 821, 226, 8, false, kLegend, 1, 1.8f);
  c.Text("SIDECHAIN  \xB7  SATURATION  \xB7  4x/16x", 821, 240, 6.5f, false, Hex(0x6C737C), 1, 0.8f);

  // Bottom strip: switch captions.
  c.Text("OVERSAMPLING", 158, 276, 8.5f, true, kLabel, 0, 1.4f);
  c.Text("SIDECHAIN", 804, 276, 8.5f, true, kLabel, 2, 1.4f);

  for (float x : {16.0f, 896.0f}) Screw(c, x, 16);
  Screw(c, 16, 244);
  Screw(c, 896, 244);
  Emit(dir, "BG", c, 1);
}


// ---------------------------------------------------------------- installer artwork

void Put16(std::vector<uint8_t>& out, unsigned v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, unsigned v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  bool ok = file && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (file && std::fclose(file) != 0) ok = false;
  if (!ok) std::fprintf(stderr, "cannot write %s\n", path.c_str());
  return ok;
}

// The icon: the amber-lit INPUT knob on a dark rounded plate.
Canvas IconPicture(int size) {
  Canvas c(size, size);
  const float s = static_cast<float>(size);
  const float u = s / 32.0f;
  c.Fill(0, 0, s, s, [&](float x, float y) { return RoundRectDistance(x, y, 0.5f, 0.5f, s - 0.5f, s - 0.5f, 6 * u); },
         [&](float, float y) { return Mix(Hex(0x33383E), Hex(0x17191C), y / s); });
  const KnobLook look{9.5f * u, true, false, 13.0f * u};
  DrawKnob(c, s / 2, s / 2 + 0.5f * u, look, 0.7f);
  return c;
}

// Appends a 32-bit image as an icon entry expects it: a bitmap header of
// double height, bottom-up BGRA rows, then an all-clear AND mask.
void AppendIconBitmap(std::vector<uint8_t>& out, const Canvas& c) {
  const int w = c.Width(), h = c.Height();
  Put32(out, 40);
  Put32(out, static_cast<unsigned>(w));
  Put32(out, static_cast<unsigned>(2 * h));
  Put16(out, 1);
  Put16(out, 32);
  for (int i = 0; i < 6; ++i) Put32(out, 0);
  const std::vector<unsigned> pixels = c.Pixels();
  for (int y = h - 1; y >= 0; --y) {
    for (int x = 0; x < w; ++x) Put32(out, pixels[static_cast<size_t>(y * w + x)]);  // ARGB = BGRA in memory
  }
  const int maskRow = ((w + 31) / 32) * 4;
  out.insert(out.end(), static_cast<size_t>(maskRow * h), 0);
}

bool WriteIcon(const std::string& path) {
  const int sizes[] = {16, 24, 32, 48, 64};
  std::vector<std::vector<uint8_t>> images;
  for (int size : sizes) {
    images.emplace_back();
    AppendIconBitmap(images.back(), IconPicture(size));
  }
  std::vector<uint8_t> out;
  Put16(out, 0);
  Put16(out, 1);  // icon
  Put16(out, static_cast<unsigned>(images.size()));
  unsigned offset = 6 + 16 * static_cast<unsigned>(images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    out.push_back(static_cast<uint8_t>(sizes[i]));
    out.push_back(static_cast<uint8_t>(sizes[i]));
    out.push_back(0);  // no palette
    out.push_back(0);
    Put16(out, 1);   // planes
    Put16(out, 32);  // bits per pixel
    Put32(out, static_cast<unsigned>(images[i].size()));
    Put32(out, offset);
    offset += static_cast<unsigned>(images[i].size());
  }
  for (const auto& image : images) out.insert(out.end(), image.begin(), image.end());
  return WriteBytes(path, out);
}

// The welcome page's picture, 164 x 314 as the wizard pages expect, as a
// 24-bit bitmap (the installer compiler takes no PNG there).
bool WriteWizardBitmap(const std::string& path) {
  const int w = 164, h = 314;
  Canvas c(w, h);
  c.Fill(0, 0, w, h, [](float, float) { return -1.0f; },
         [&](float, float y) { return Mix(Hex(0x2C3035), Hex(0x141518), y / h); });
  const KnobLook look{34, true, false, 44};
  DrawKnob(c, w / 2.0f, 118, look, 0.7f);
  c.Text("KESTRUNE", w / 2.0f, 206, 17, true, kAmber, 1, 2.0f);
  c.Text("STEREO COMPRESSOR", w / 2.0f, 226, 8, true, kLabel, 1, 1.4f);
  c.Text("MARLOWIND", w / 2.0f, 296, 8, true, kLegend, 1, 1.6f);
  const std::vector<unsigned> pixels = c.Pixels();
  const unsigned rowBytes = (3 * w + 3) / 4 * 4;
  std::vector<uint8_t> out;
  out.push_back('B');
  out.push_back('M');
  Put32(out, 54 + rowBytes * h);
  Put32(out, 0);
  Put32(out, 54);
  Put32(out, 40);
  Put32(out, w);
  Put32(out, h);
  Put16(out, 1);
  Put16(out, 24);
  Put32(out, 0);
  Put32(out, rowBytes * h);
  for (int i = 0; i < 4; ++i) Put32(out, 0);
  for (int y = h - 1; y >= 0; --y) {
    for (int x = 0; x < w; ++x) {
      const unsigned p = pixels[static_cast<size_t>(y * w + x)];
      out.push_back(static_cast<uint8_t>(p));
      out.push_back(static_cast<uint8_t>(p >> 8));
      out.push_back(static_cast<uint8_t>(p >> 16));
    }
    out.insert(out.end(), rowBytes - 3 * w, 0);
  }
  return WriteBytes(path, out);
}

// The frames drawn at 2x or 3x as one file the build embeds:
//   "KSTPACK1", u32 scale, u32 image count, then per image its name (8 bytes,
//   zero-padded), frame width and height in pixels, frame count and each
//   frame's offset and length from the start of the file; then the PNGs.
// All numbers little-endian.
bool WritePack(const std::string& path) {
  std::vector<uint8_t> out(8);
  std::memcpy(out.data(), "KSTPACK1", 8);
  Put32(out, static_cast<unsigned>(gScale));
  Put32(out, static_cast<unsigned>(gPack.size()));
  size_t header = out.size();
  for (const PackImage& image : gPack) header += 8 + 12 + 8 * image.frames.size();
  size_t offset = header;
  for (const PackImage& image : gPack) {
    char name[8] = {};
    std::memcpy(name, image.name.c_str(), std::min(image.name.size(), sizeof name));
    out.insert(out.end(), name, name + sizeof name);
    Put32(out, static_cast<unsigned>(image.frameWidth));
    Put32(out, static_cast<unsigned>(image.frameHeight));
    Put32(out, static_cast<unsigned>(image.frames.size()));
    for (const PackFrame& frame : image.frames) {
      Put32(out, static_cast<unsigned>(offset));
      Put32(out, static_cast<unsigned>(frame.png.size()));
      offset += frame.png.size();
    }
  }
  for (const PackImage& image : gPack)
    for (const PackFrame& frame : image.frames) out.insert(out.end(), frame.png.begin(), frame.png.end());
  return WriteBytes(path, out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--installer") {
    const std::string dir = argv[2];
    return WriteIcon(dir + "/Kestrune.ico") && WriteWizardBitmap(dir + "/Wizard.bmp") ? 0 : 1;
  }
  if (argc == 4 && std::string(argv[1]) == "--scale") {
    gScale = std::atoi(argv[2]);
    argv += 2;
    argc -= 2;
  }
  if (argc < 2 || argv[1][0] == '-' || gScale < 1 || gScale > 3) {
    std::fprintf(stderr,
                 "usage: %s [--scale 2|3] <output folder> | --installer <output folder>\n",
                 argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  Background(dir);
  const KnobLook big{24, true, false, 28};
  const KnobLook bigBipolar{24, true, true, 28};
  const KnobLook small{15, true, false, 18.2f};
  const KnobLook mid{19, true, false, 22.5f};
  const KnobLook midBipolar{19, true, true, 22.5f};
  KnobStrip(dir, "IN", 78, 83, 61, big, 39, 41.5f);
  KnobStrip(dir, "OUT", 81, 83, 61, bigBipolar, 40.5f, 41.5f);
  KnobStrip(dir, "ATK", 59, 59, 61, small, 29.5f, 29.5f);
  KnobStrip(dir, "REL", 59, 54, 61, small, 29.5f, 27);
  KnobStrip(dir, "HPF", 68, 68, 61, mid, 34, 33);
  KnobStrip(dir, "MIX", 76, 68, 61, mid, 38, 33);
  KnobStrip(dir, "HF", 68, 68, 61, mid, 34, 33);
  KnobStrip(dir, "MIDF", 68, 68, 61, mid, 34, 33);
  KnobStrip(dir, "MIDG", 66, 68, 61, midBipolar, 33, 33);
  {
    // RATIO: four detents, 90 degrees apart, no value arc.
    const KnobLook ratio{23, false, false, 0};
    Canvas strip(98, 95 * 4, gScale);
    for (int k = 0; k < 4; ++k) {
      Canvas frame(98, 95, gScale);
      DrawKnob(frame, 49, 48, ratio, k / 3.0f);
      strip.Paste(frame, 0, k * 95);
    }
    Emit(dir, "RAT", strip, 4);
  }
  ButtonStrip(dir, "BY", Hex(0xFFB22E));
  ButtonStrip(dir, "SLAM", Hex(0xFF4A24));
  SelectorStrip(dir, "OVER", 150, 25, 25, "4x", "16x");
  SelectorStrip(dir, "SC", 100, 30, 29, "EXT", "INT");
  MeterStrip(dir);
  if (gScale > 1) {
    const std::string pack = dir + "/Kestrune@" + std::to_string(gScale) + "x.pack";
    if (!WritePack(pack)) return 1;
    std::printf("images written to %s\n", pack.c_str());
    return 0;
  }
  std::printf("images written to %s\n", dir.c_str());
  return 0;
}
