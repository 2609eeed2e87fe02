#include "IGraphics.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "IEffectBase.h"
#include "ImagePacks.h"
#include "PIX_Font.h"
#include "PngCodec.h"

namespace {

bool HasPngExtension(const char* name) {
  const char* dot = name ? std::strrchr(name, '.') : nullptr;
  if (!dot) return false;
  const char* ext = dot + 1;
  return std::strlen(ext) == 3 && std::tolower(static_cast<unsigned char>(ext[0])) == 'p' &&
         std::tolower(static_cast<unsigned char>(ext[1])) == 'n' &&
         std::tolower(static_cast<unsigned char>(ext[2])) == 'g';
}

// The built-in image resource decoded, or null.
PIX_IBitmap* DecodeImageResource(int resourceId, const char* name) {
  if (!HasPngExtension(name)) return nullptr;
  const unsigned char* data = nullptr;
  size_t length = 0;
  if (!FindImageResource(resourceId, &data, &length) || length < 8) return nullptr;
  return LoadPngFromMemory(data, length);
}

// Width and height from a PNG's header (signature, then the IHDR chunk),
// without decoding anything; false when the data does not start like a PNG.
bool ReadPngSize(const unsigned char* data, size_t length, int* width, int* height) {
  static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (!data || length < 33 || std::memcmp(data, kSignature, 8) != 0 ||
      std::memcmp(data + 12, "IHDR", 4) != 0)
    return false;
  auto big32 = [](const unsigned char* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
  };
  const uint32_t w = big32(data + 16), h = big32(data + 20);
  if (w == 0 || h == 0 || w > 0x7FFFFFFF || h > 0x7FFFFFFF) return false;
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
  return true;
}

}  // namespace

// An editor image of the process-wide cache. Building an editor only needs
// the image's size, which the PNG header gives; the pixels are decoded when
// an editor first draws the image (through its window layer's
// LoadImageResource), or when anything first asks for them. Constructing a
// plug-in instance (a host scanning plug-ins creates one of each) therefore
// costs neither the decoding time nor the decoded pixels' memory. Once
// decoded, the image forwards to the decoded bitmap; a failed decoding is
// reported once and leaves the image without pixels (it draws nothing).
class IGraphics::CachedImage : public PIX_IBitmap {
 public:
  CachedImage(int resourceId, const char* name, int width, int height)
      : resourceId_(resourceId), name_(name ? name : ""), width_(width), height_(height) {}
  ~CachedImage() override { delete decoded_.load(); }

  uint32_t* PixelData() override {
    PIX_IBitmap* b = Decode(nullptr);
    return b ? b->PixelData() : nullptr;
  }
  int Width() const override {
    PIX_IBitmap* b = decoded_.load(std::memory_order_acquire);
    return b ? b->Width() : width_;
  }
  int Height() const override {
    PIX_IBitmap* b = decoded_.load(std::memory_order_acquire);
    return b ? b->Height() : height_;
  }
  int RowSpan() const override {
    PIX_IBitmap* b = decoded_.load(std::memory_order_acquire);
    return b ? b->RowSpan() : (width_ + 3) & ~3;
  }
  bool IsBottomUp() const override {
    PIX_IBitmap* b = decoded_.load(std::memory_order_acquire);
    return b && b->IsBottomUp();
  }
  bool Resize(int, int) override { return false; }  // shared and read-only

  bool IsDecoded() const { return decoded_.load(std::memory_order_acquire) != nullptr; }

  // Frame `frame` (0-based) of `frames` at `scale`, round(design size x scale)
  // pixels: from the 2x or 3x set at or above the scale where the build has
  // it, else from the 1x image; resampled unless the set's scale is the one
  // asked for. Made on first use; frames of the two scales used last are kept.
  std::shared_ptr<PIX_IBitmap> ScaledFrame(IGraphics* producer, int frame, int frames,
                                           bool sideBySide, int frameWidth, int frameHeight,
                                           double scale) {
    const int key = static_cast<int>(std::lround(scale * 1000.0));
    std::lock_guard<std::mutex> guard(scaledLock_);
    if (key != scaleKeys_[0]) {
      if (key != scaleKeys_[1]) {
        const int keep = scaleKeys_[0];
        scaled_.erase(std::remove_if(scaled_.begin(), scaled_.end(),
                                     [&](const ScaledFrameEntry& e) { return e.key != keep; }),
                      scaled_.end());
      }
      scaleKeys_[1] = scaleKeys_[0];
      scaleKeys_[0] = key;
    }
    for (const ScaledFrameEntry& e : scaled_)
      if (e.key == key && e.frame == frame) return e.bitmap;
    const int width = std::max(1, static_cast<int>(std::lround(frameWidth * scale)));
    const int height = std::max(1, static_cast<int>(std::lround(frameHeight * scale)));
    std::shared_ptr<PIX_IBitmap> made(FromPack(frame, frames, frameWidth, frameHeight, scale,
                                               width, height));
    if (!made) {
      PIX_IBitmap* whole = Decode(producer);
      if (!whole) return nullptr;
      const PixelRect source = sideBySide
                                   ? PixelRect(frame * frameWidth, 0, (frame + 1) * frameWidth,
                                               frameHeight)
                                   : PixelRect(0, frame * frameHeight, frameWidth,
                                               (frame + 1) * frameHeight);
      made.reset(ResampleBitmap(whole, source, width, height));
      if (!made) return nullptr;
    }
    scaled_.push_back({key, frame, made});
    return made;
  }

  // The decoded bitmap, decoded now if it is not yet (by `producer`'s
  // LoadImageResource, or by the module's own resources without one).
  PIX_IBitmap* Decode(IGraphics* producer) {
    PIX_IBitmap* b = decoded_.load(std::memory_order_acquire);
    if (b || failed_.load(std::memory_order_acquire)) return b;
    std::lock_guard<std::mutex> guard(decodeLock_);
    b = decoded_.load(std::memory_order_relaxed);
    if (b || failed_.load(std::memory_order_relaxed)) return b;
    b = producer ? producer->LoadImageResource(resourceId_, name_.c_str())
                 : DecodeImageResource(resourceId_, name_.c_str());
    if (b) {
      decoded_.store(b, std::memory_order_release);
    } else {
      std::fprintf(stderr, "Kestrune: image %d (%s) could not be decoded\n", resourceId_,
                   name_.c_str());
      failed_.store(true, std::memory_order_release);
    }
    return b;
  }

 private:
  const int resourceId_;
  const std::string name_;
  const int width_, height_;  // from the PNG header
  std::atomic<PIX_IBitmap*> decoded_{nullptr};
  std::atomic<bool> failed_{false};
  std::mutex decodeLock_;

  struct ScaledFrameEntry {
    int key;  // scale x 1000
    int frame;
    std::shared_ptr<PIX_IBitmap> bitmap;
  };

  // The frame from the embedded set for `scale`, resampled to width x
  // height; null when there is no such set or it does not match the layout.
  PIX_IBitmap* FromPack(int frame, int frames, int frameWidth, int frameHeight, double scale,
                        int width, int height) {
    const int set = scale <= 2.0 ? 2 : 3;
    if (scale <= 1.0) return nullptr;  // the 1x image is the set at or above
    std::string base = name_;
    const size_t slash = base.find_last_of("/\\");
    if (slash != std::string::npos) base.erase(0, slash + 1);
    const size_t dot = base.rfind('.');
    if (dot != std::string::npos) base.erase(dot);
    const unsigned char* pack = nullptr;
    size_t packLength = 0;
    PackedImage image;
    const unsigned char* png = nullptr;
    size_t pngLength = 0;
    if (!FindImagePack(set, &pack, &packLength) ||
        !FindPackedImage(pack, packLength, base.c_str(), &image) || image.frameCount != frames ||
        image.frameWidth != frameWidth * set || image.frameHeight != frameHeight * set ||
        !PackedFrame(image, frame, &png, &pngLength))
      return nullptr;
    std::unique_ptr<PIX_MemBitmap> decoded(LoadPngFromMemory(png, pngLength));
    if (!decoded || decoded->Width() != image.frameWidth ||
        decoded->Height() != image.frameHeight)
      return nullptr;
    if (width == decoded->Width() && height == decoded->Height()) return decoded.release();
    return ResampleBitmap(decoded.get(), PixelRect(0, 0, decoded->Width(), decoded->Height()),
                          width, height);
  }

  std::mutex scaledLock_;
  std::vector<ScaledFrameEntry> scaled_;
  int scaleKeys_[2] = {-1, -1};  // the scale used last, and the one before
};

namespace {

// Images, shared by every editor of the process. Entries are added, never
// removed, and freed when the module unloads.
struct ImageCache {
  struct Entry {
    int resourceId;
    IGraphics::CachedImage* bitmap;
  };
  std::mutex lock;
  std::vector<Entry> entries;
  ~ImageCache() {
    for (auto& e : entries) delete e.bitmap;
  }
};

struct FontCache {
  struct Entry {
    int size;
    int orientation;
    int style;
    std::string name;
    PIX_CachedFont* font;
  };
  std::mutex lock;
  std::vector<Entry> entries;
  ~FontCache() {
    for (auto& e : entries) delete e.font;
  }
};

ImageCache& Images() {
  static ImageCache cache;
  return cache;
}

FontCache& Fonts() {
  static FontCache cache;
  return cache;
}

}  // namespace

IGraphics::IGraphics(IEffectBase* plug, int width, int height, int frameRate)
    : plug_(plug),
      paramFeeds_(new EditorFeed[static_cast<size_t>(plug ? plug->ParamCount() : 0)]),
      paramFeedCount_(plug ? plug->ParamCount() : 0),
      width_(width),
      height_(height),
      frameRate_(frameRate) {}

IGraphics::~IGraphics() {
  delete keyCatcher_;
  DeleteControls();
  delete backBuffer_;
}

void IGraphics::DeleteControls() {
  for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) delete *it;
  controls_.clear();
}

// ---------------------------------------------------------------- images

PIX_IBitmap* IGraphics::LoadImageResource(int resourceId, const char* name) {
  // The name only has to say it is a PNG; the resource is found by number.
  return DecodeImageResource(resourceId, name);
}

BitmapRef IGraphics::LoadImage(int resourceId, const char* name, int frameCount) {
  ImageCache& cache = Images();
  CachedImage* bitmap = nullptr;
  {
    std::lock_guard<std::mutex> guard(cache.lock);
    for (auto& e : cache.entries)
      if (e.resourceId == resourceId) {
        bitmap = e.bitmap;
        break;
      }
    if (!bitmap) {
      // Only the header is read here (see CachedImage). An image that is not
      // there is not cached, so a later editor tries again.
      const unsigned char* data = nullptr;
      size_t length = 0;
      int width = 0, height = 0;
      if (HasPngExtension(name) && FindImageResource(resourceId, &data, &length) &&
          ReadPngSize(data, length, &width, &height)) {
        bitmap = new CachedImage(resourceId, name, width, height);
        cache.entries.push_back({resourceId, bitmap});
      }
    }
  }
  if (!bitmap)
    std::fprintf(stderr, "Kestrune: image %d (%s) could not be loaded\n", resourceId,
                 name ? name : "");
  BitmapRef ref;
  ref.bitmap = bitmap;
  ref.width = bitmap ? bitmap->Width() : 0;
  ref.height = bitmap ? bitmap->Height() : 0;
  ref.frameCount = frameCount;
  ref.framesSideBySide = false;
  return ref;
}

int IGraphics::DecodedImageCount() {
  ImageCache& cache = Images();
  std::lock_guard<std::mutex> guard(cache.lock);
  int count = 0;
  for (auto& e : cache.entries) count += e.bitmap->IsDecoded() ? 1 : 0;
  return count;
}

void IGraphics::SetBackgroundImage(const BitmapRef& image) {
  auto* background = new IBitmapControl(plug_, 0, 0, -1, image, BlendReplace);
  background->SetGraphics(this);
  controls_.insert(controls_.begin(), background);
}

int IGraphics::AddControl(IControl* control) {
  if (!control) return -1;
  control->SetGraphics(this);
  controls_.push_back(control);
  return static_cast<int>(controls_.size()) - 1;
}

IControl* IGraphics::ControlAt(int index) const {
  if (index < 0 || index >= ControlCount()) return nullptr;
  return controls_[static_cast<size_t>(index)];
}

void IGraphics::SetKeyCatcher(IControl* control) {
  delete keyCatcher_;
  keyCatcher_ = control;
  if (keyCatcher_) keyCatcher_->SetGraphics(this);
}

void IGraphics::CreateBackBuffer() {
  delete backBuffer_;
  backBuffer_ = new PIX_SysBitmap;
  backBuffer_->Resize(Width(), Height());
}

// ---------------------------------------------------------------- scale

int IGraphics::PixelLength(int design) const {
  if (scale_ == 1.0) return design;
  // Down, so that 1368 x 430 is 912 x 287 at 1.5 (430.5 rows would need 431).
  return static_cast<int>(std::floor(design * scale_ + 1e-6));
}

int IGraphics::DesignCoordinate(int pixel) const {
  if (scale_ == 1.0) return pixel;
  return static_cast<int>(std::floor(pixel / scale_));
}

PixelRect IGraphics::ToPixels(const PixelRect& design) const {
  if (scale_ == 1.0 || design.Empty()) return design;
  return PixelRect(static_cast<int>(std::floor(design.left * scale_)),
                   static_cast<int>(std::floor(design.top * scale_)),
                   static_cast<int>(std::ceil(design.right * scale_)),
                   static_cast<int>(std::ceil(design.bottom * scale_)));
}

PixelRect IGraphics::ToDesign(const PixelRect& pixels) const {
  if (scale_ == 1.0 || pixels.Empty()) return pixels;
  return PixelRect(static_cast<int>(std::floor(pixels.left / scale_)),
                   static_cast<int>(std::floor(pixels.top / scale_)),
                   static_cast<int>(std::ceil(pixels.right / scale_)),
                   static_cast<int>(std::ceil(pixels.bottom / scale_)));
}

TextStyle IGraphics::ScaledStyle(const TextStyle& style) const {
  TextStyle scaled = style;
  if (scale_ != 1.0) {
    scaled.size = std::max(1, static_cast<int>(std::lround(style.size * scale_)));
    scaled.cachedFont = nullptr;
  }
  return scaled;
}

double IGraphics::ScaleForSize(int width, int height) const {
  if (width_ <= 0 || height_ <= 0) return scale_;
  const double byWidth = static_cast<double>(width) / width_;
  const double byHeight = static_cast<double>(height) / height_;
  auto within = [](double design, double scale, int pixels) {
    return std::fabs(std::floor(design * scale + 1e-6) - pixels) <= 1.0;
  };
  // A size in the editor's aspect ratio (to a pixel of rounding) is taken as
  // it is, by its exact width.
  if (within(height_, byWidth, height)) return std::min(std::max(byWidth, kMinScale), kMaxScale);
  if (within(width_, byHeight, width)) return std::min(std::max(byHeight, kMinScale), kMaxScale);
  // Otherwise the side that changed more, relative to the current size.
  const double widthChange = std::fabs(width - Width()) / static_cast<double>(width_);
  const double heightChange = std::fabs(height - Height()) / static_cast<double>(height_);
  const double scale = widthChange >= heightChange ? byWidth : byHeight;
  if (!(scale == scale)) return scale_;
  return std::min(std::max(scale, kMinScale), kMaxScale);
}

double IGraphics::ScaleToFit(int width, int height) const {
  if (width_ <= 0 || height_ <= 0) return scale_;
  const double byWidth = static_cast<double>(width) / width_;
  const double byHeight = static_cast<double>(height) / height_;
  // In the aspect ratio to a pixel of rounding: by its exact width, as the
  // editor's own sizes are made.
  const bool inAspect = std::fabs(std::floor(height_ * byWidth + 1e-6) - height) <= 1.0;
  const double scale = inAspect ? byWidth : std::min(byWidth, byHeight);
  if (!(scale == scale)) return scale_;
  return std::min(std::max(scale, kMinScale), kMaxScale);
}

// ---------------------------------------------------------------- resize handle

PixelRect IGraphics::ResizeGripRect() const {
  const int side = std::max(8, PixelLength(10));
  return PixelRect(Width() - side, Height() - side, Width(), Height());
}

bool IGraphics::InResizeGrip(int pixelX, int pixelY) const {
  return WindowFollowsScale() && ResizeGripRect().Contains(pixelX, pixelY);
}

void IGraphics::ShowResizeGrip(bool shown) {
  if (shown == gripShown_) return;
  gripShown_ = shown;
  gripDirty_ = true;
}

// Three diagonal ridges, light over whatever lies beneath.
void IGraphics::DrawResizeGrip() {
  if (!gripShown_ || !backBuffer_) return;
  const PixelRect grip = ResizeGripRect();
  const int side = grip.Width();
  const int width = std::max(1, side / 8);
  for (int y = std::max(grip.top, clipPixels_.top); y < std::min(grip.bottom, clipPixels_.bottom); ++y)
    for (int x = std::max(grip.left, clipPixels_.left); x < std::min(grip.right, clipPixels_.right);
         ++x) {
      const int d = (grip.right - 1 - x) + (grip.bottom - 1 - y);  // from the corner
      for (int ridge = 1; ridge <= 3; ++ridge) {
        const int at = ridge * side / 4;
        if (d >= at && d < at + width)
          FillPixelRect(backBuffer_, x, y, 1, 1, 0xD0D8DCE0, 1.0f, BlitCopy | BlitUseSourceAlpha);
      }
    }
}

bool IGraphics::SetContentScale(double scale) {
  if (!(scale > 0) || scale > 100) return false;
  contentScaleFromHost_ = true;
  contentScale_ = scale;
  return SetScale(contentScale_ * zoom_);
}

bool IGraphics::SetDesktopScale(double scale) {
  if (contentScaleFromHost_ || !(scale > 0) || scale > 100) return false;
  contentScale_ = scale;
  return SetScale(contentScale_ * zoom_);
}

bool IGraphics::SetChosenScale(double scale) {
  if (!(scale > 0)) return false;
  const bool changed = SetScale(scale);
  zoom_ = scale_ / contentScale_;
  return changed;
}

void IGraphics::FitHostWindow(int width, int height) {
  if (width <= 0 || height <= 0) return;
  SetChosenScale(ScaleToFit(width, height));
  hostWindowWidth_ = width;
  hostWindowHeight_ = height;
}

bool IGraphics::SetScale(double scale) {
  if (!(scale == scale) || !WindowFollowsScale()) return false;
  scale = std::min(std::max(scale, kMinScale), kMaxScale);
  if (scale == scale_) return false;
  // A new size from anywhere else: the frame is the editor again.
  hostWindowWidth_ = 0;
  hostWindowHeight_ = 0;
  scale_ = scale;
  ReleaseCapture();
  mouseOver_ = -1;
  if (backBuffer_) CreateBackBuffer();
  for (IControl* c : controls_) c->MarkDirty(false);
  return true;
}

// ---------------------------------------------------------------- values

void IGraphics::ShowParameterValue(int paramIndex, double value, bool isNormalized) {
  if (paramIndex < 0 || paramIndex >= paramFeedCount_) return;
  if (!isNormalized) {
    // The range is fixed at construction: reading it is safe from any thread.
    const PlugParam* param = plug_ ? plug_->ParamAt(paramIndex) : nullptr;
    if (!param) return;
    value = param->NormalizedFromPlain(value);
  }
  paramFeeds_[static_cast<size_t>(paramIndex)].Post(value);
}

void IGraphics::FollowFeed(int controlIndex, EditorFeed* feed) {
  if (feed && ControlAt(controlIndex)) followedFeeds_.push_back({controlIndex, feed});
}

void IGraphics::ShowPendingValues() {
  double value;
  for (int i = 0; i < paramFeedCount_; ++i) {
    if (!paramFeeds_[static_cast<size_t>(i)].Take(&value)) continue;
    for (IControl* c : controls_) {
      if (c->ParamIndex() == i) c->ReceivePlugValue(value);
      for (int k = 0; k < c->AuxBindingCount(); ++k) {
        if (c->AuxBinding(k).paramIndex == i) {
          c->ReceiveAuxValue(k, value);
          break;
        }
      }
    }
  }
  for (const FollowedFeed& f : followedFeeds_)
    if (f.feed->Take(&value)) SetControlValue(f.controlIndex, value);
}

void IGraphics::SetControlValue(int controlIndex, double normalized) {
  IControl* c = ControlAt(controlIndex);
  if (c) c->ReceivePlugValue(normalized);
}

// ---------------------------------------------------------------- drawing

bool IGraphics::DrawImage(const BitmapRef& image, const PixelRect& rect, int srcX, int srcY,
                          const ChannelBlend* blend) {
  if (!image.bitmap || !backBuffer_) return false;
  int method = blend ? blend->method : BlendNormal;
  float weight = blend ? blend->weight : 1.0f;
  int mode;
  switch (method) {
    case BlendReplace: mode = BlitCopy; break;
    case BlendAdd: mode = BlitAdd | BlitUseSourceAlpha; break;
    case BlendColourDodge: mode = BlitDodge | BlitUseSourceAlpha; break;
    default: mode = BlitCopy | BlitUseSourceAlpha; break;
  }
  if (scale_ != 1.0) return DrawScaledImage(image, rect, srcX, srcY, mode, weight);
  // Images from LoadImage are decoded on their first drawing.
  if (auto* cached = dynamic_cast<CachedImage*>(image.bitmap)) cached->Decode(this);
  PixelRect target;
  if (!rect.Empty() && !drawRect_.Empty() && rect.Overlaps(drawRect_)) {
    target = PixelRect(std::max(rect.left, drawRect_.left), std::max(rect.top, drawRect_.top),
                       std::min(rect.right, drawRect_.right),
                       std::min(rect.bottom, drawRect_.bottom));
  }
  PixelRect source(srcX + target.left - rect.left, srcY + target.top - rect.top,
                   srcX + target.right - rect.left, srcY + target.bottom - rect.top);
  BlitImage(backBuffer_, image.bitmap, target.left, target.top, &source, weight, mode);
  return true;
}

// An image frame at a scale other than 1: the frame that (srcX, srcY) starts,
// at its scaled size, with its corner on the pixel where the control's begins.
bool IGraphics::DrawScaledImage(const BitmapRef& image, const PixelRect& rect, int srcX, int srcY,
                                int mode, float weight) {
  const int frames = std::max(1, image.frameCount);
  const int frameWidth = image.FrameWidth(), frameHeight = image.FrameHeight();
  if (frameWidth <= 0 || frameHeight <= 0) return false;
  int frame = image.framesSideBySide ? (srcX + frameWidth / 2) / frameWidth
                                     : (srcY + frameHeight / 2) / frameHeight;
  frame = std::min(std::max(frame, 0), frames - 1);
  std::shared_ptr<PIX_IBitmap> scaled;
  if (auto* cached = dynamic_cast<CachedImage*>(image.bitmap)) {
    scaled = cached->ScaledFrame(this, frame, frames, image.framesSideBySide, frameWidth,
                                 frameHeight, scale_);
  } else {
    const PixelRect source =
        image.framesSideBySide
            ? PixelRect(frame * frameWidth, 0, (frame + 1) * frameWidth, frameHeight)
            : PixelRect(0, frame * frameHeight, frameWidth, (frame + 1) * frameHeight);
    scaled.reset(ResampleBitmap(image.bitmap, source,
                                std::max(1, static_cast<int>(std::lround(frameWidth * scale_))),
                                std::max(1, static_cast<int>(std::lround(frameHeight * scale_)))));
  }
  if (!scaled) return false;
  const int left = static_cast<int>(std::floor(rect.left * scale_));
  const int top = static_cast<int>(std::floor(rect.top * scale_));
  const PixelRect placed(left, top, left + scaled->Width(), top + scaled->Height());
  if (clipPixels_.Empty() || !placed.Overlaps(clipPixels_)) return true;
  const PixelRect target(std::max(placed.left, clipPixels_.left),
                         std::max(placed.top, clipPixels_.top),
                         std::min(placed.right, clipPixels_.right),
                         std::min(placed.bottom, clipPixels_.bottom));
  if (target.Width() <= 0 || target.Height() <= 0) return true;
  const PixelRect source(target.left - left, target.top - top, target.right - left,
                         target.bottom - top);
  BlitImage(backBuffer_, scaled.get(), target.left, target.top, &source, weight, mode);
  return true;
}

bool IGraphics::DrawRegion(const PixelRect& rect) {
  if (controls_.empty()) return true;
  ShowPendingValues();
  if (strictDrawing_) {
    drawRect_ = ToDesign(rect);
    clipPixels_ = rect;
    for (IControl* c : controls_)
      if (!c->IsHidden() && !drawRect_.Empty() && !c->Rect().Empty() &&
          c->Rect().Overlaps(drawRect_))
        c->Paint(this);
    for (IControl* c : controls_) c->MarkClean();
  } else if (controls_[0]->NeedsRedraw()) {
    drawRect_ = controls_[0]->Rect();
    clipPixels_ = ToPixels(drawRect_);
    for (size_t i = 0; i < controls_.size(); ++i) {
      IControl* c = controls_[i];
      if (i == 0 || !c->IsHidden()) {
        c->Paint(this);
        c->MarkClean();
      }
    }
  } else {
    for (size_t i = 1; i < controls_.size(); ++i) {
      if (!controls_[i]->NeedsRedraw()) continue;
      drawRect_ = controls_[i]->Rect();
      clipPixels_ = ToPixels(drawRect_);
      for (size_t j = 0; j < controls_.size(); ++j) {
        IControl* c = controls_[j];
        if (c->IsHidden()) continue;
        if (j == i || (!c->Rect().Empty() && c->Rect().Overlaps(drawRect_))) c->Paint(this);
      }
      controls_[i]->MarkClean();
    }
  }
  if (gripShown_ || gripDirty_) {
    if (!strictDrawing_) clipPixels_ = rect;
    DrawResizeGrip();
    if (!clipPixels_.Empty() && clipPixels_.Overlaps(ResizeGripRect())) gripDirty_ = false;
  }
  PresentRect(rect);
  return true;
}

bool IGraphics::CollectDirtyRect(PixelRect* dirty) {
  ShowPendingValues();
  PixelRect area;
  bool any = false;
  for (IControl* c : controls_) {
    if (!c->NeedsRedraw()) continue;
    any = true;
    const PixelRect& r = c->Rect();
    if (area.Empty()) {
      area = r;
    } else if (!r.Empty()) {
      area = PixelRect(std::min(area.left, r.left), std::min(area.top, r.top),
                       std::max(area.right, r.right), std::max(area.bottom, r.bottom));
    }
  }
  PixelRect pixels = ToPixels(area);
  if (gripDirty_) {
    // The grip shown or hidden: its corner, and the controls beneath it.
    const PixelRect grip = ResizeGripRect();
    pixels = !any ? grip
                  : PixelRect(std::min(pixels.left, grip.left), std::min(pixels.top, grip.top),
                              std::max(pixels.right, grip.right),
                              std::max(pixels.bottom, grip.bottom));
    any = true;
  }
  if (dirty) *dirty = pixels;
  return any;
}

// ---------------------------------------------------------------- input

int IGraphics::TopmostHit(int x, int y) const {
  for (int i = ControlCount() - 1; i >= 0; --i) {
    IControl* c = controls_[static_cast<size_t>(i)];
    if (!c->IsHidden() && !c->IsGrayed() && c->HitTest(x, y)) return i;
  }
  return -1;
}

void IGraphics::SetDragOrigin(int pixelX, int pixelY, int x, int y) {
  dragOrigin_[0] = pixelX;
  dragOrigin_[1] = pixelY;
  dragOrigin_[2] = x;
  dragOrigin_[3] = y;
}

void IGraphics::ReleaseCapture() {
  mouseCapture_ = -1;
  lastMouseX_ = lastMouseY_ = -1;
}

void IGraphics::HandleMouseDown(int pixelX, int pixelY, const MouseMods& mods) {
  const int x = DesignCoordinate(pixelX), y = DesignCoordinate(pixelY);
  ReleaseCapture();
  if (mods.left && !mods.right && InResizeGrip(pixelX, pixelY)) {
    resizing_ = true;
    resizeOrigin_[0] = pixelX;
    resizeOrigin_[1] = pixelY;
    resizeOrigin_[2] = Width();
    resizeOrigin_[3] = Height();
    ShowResizeGrip(true);
    return;
  }
  int hit = TopmostHit(x, y);
  if (hit < 0) return;
  IControl* c = controls_[static_cast<size_t>(hit)];
  mouseCapture_ = hit;
  lastMouseX_ = x;
  lastMouseY_ = y;
  SetDragOrigin(pixelX, pixelY, x, y);
  int param = c->ParamIndex();
  if (plug_ && plug_->PluginApi() == IEffectBase::kApiVst3 && mods.right && param >= 0) {
    ReleaseCapture();
    plug_->ShowHostParamMenu(param, pixelX, pixelY);
    return;
  }
  if (plug_ && param >= 0) plug_->BeginParamGesture(param);
  c->HandleMouseDown(x, y, mods);
}

// Drags move in design units: a knob turns as far for the same distance on
// the screen at every scale.
void IGraphics::HandleMouseDrag(int x, int y, const MouseMods& mods) {
  if (resizing_) {
    const int width = resizeOrigin_[2] + x - resizeOrigin_[0];
    const int height = resizeOrigin_[3] + y - resizeOrigin_[1];
    if (SetChosenScale(ScaleForSize(width, height))) RequestHostResize();
    return;
  }
  // Measured from the press, so that rounding to design units never adds up.
  if (scale_ != 1.0) {
    x = dragOrigin_[2] + static_cast<int>(std::lround((x - dragOrigin_[0]) / scale_));
    y = dragOrigin_[3] + static_cast<int>(std::lround((y - dragOrigin_[1]) / scale_));
  }
  IControl* c = ControlAt(mouseCapture_);
  if (!c || (x == lastMouseX_ && y == lastMouseY_)) return;
  int dX = x - lastMouseX_, dY = y - lastMouseY_;
  lastMouseX_ = x;
  lastMouseY_ = y;
  c->HandleMouseDrag(x, y, dX, dY, mods);
}

void IGraphics::HandleMouseUp(int x, int y, const MouseMods& mods) {
  if (resizing_) {
    resizing_ = false;
    ShowResizeGrip(InResizeGrip(x, y));
    return;
  }
  x = DesignCoordinate(x);
  y = DesignCoordinate(y);
  IControl* c = ControlAt(mouseCapture_);
  if (!c) c = ControlAt(TopmostHit(x, y));
  ReleaseCapture();
  if (!c) return;
  c->HandleMouseUp(x, y, mods);
  // A release over a control that was not pressed still ends its gesture.
  if (plug_ && c->ParamIndex() >= 0) plug_->EndParamGesture(c->ParamIndex());
}

void IGraphics::HandleDoubleClick(int pixelX, int pixelY, const MouseMods& mods) {
  if (mods.left && InResizeGrip(pixelX, pixelY)) {
    HandleMouseDown(pixelX, pixelY, mods);
    return;
  }
  const int x = DesignCoordinate(pixelX), y = DesignCoordinate(pixelY);
  ReleaseCapture();
  int hit = TopmostHit(x, y);
  if (hit < 0) return;
  IControl* c = controls_[static_cast<size_t>(hit)];
  if (c->DoubleClickAsClick()) {
    mouseCapture_ = hit;
    lastMouseX_ = x;
    lastMouseY_ = y;
    SetDragOrigin(pixelX, pixelY, x, y);
    c->HandleMouseDown(x, y, mods);
    CapturePointer();
  } else {
    c->HandleDoubleClick(x, y, mods);
  }
}

void IGraphics::HandleWheel(int x, int y, const MouseMods& mods, int steps) {
  x = DesignCoordinate(x);
  y = DesignCoordinate(y);
  IControl* c = ControlAt(mouseCapture_);
  if (!c) c = ControlAt(TopmostHit(x, y));
  if (c) c->HandleWheel(x, y, mods, steps);
}

bool IGraphics::HandleMouseOver(int x, int y, const MouseMods& mods) {
  if (!resizing_) ShowResizeGrip(InResizeGrip(x, y));
  x = DesignCoordinate(x);
  y = DesignCoordinate(y);
  if (!handleMouseOver_) return false;
  int target = mouseCapture_;
  if (!ControlAt(target)) {
    target = -1;
    for (int i = ControlCount() - 1; i >= 0; --i) {
      IControl* c = controls_[static_cast<size_t>(i)];
      if (!c->IsHidden() && (!c->IsGrayed() || c->MouseOverWhenGrayed()) && c->HitTest(x, y)) {
        target = i;
        break;
      }
    }
  }
  if (target < 0) return true;
  lastMouseX_ = x;
  lastMouseY_ = y;
  controls_[static_cast<size_t>(target)]->HandleMouseOver(x, y, mods);
  if (mouseOver_ >= 0 && mouseOver_ != target && ControlAt(mouseOver_))
    controls_[static_cast<size_t>(mouseOver_)]->HandleMouseOut();
  mouseOver_ = target;
  return true;
}

void IGraphics::HandleMouseLeave() {
  if (!resizing_) ShowResizeGrip(false);
  for (IControl* c : controls_) c->HandleMouseOut();
  mouseOver_ = -1;
}

bool IGraphics::HandleKey(int x, int y, int key) {
  x = DesignCoordinate(x);
  y = DesignCoordinate(y);
  int target = mouseCapture_;
  if (!ControlAt(target)) target = TopmostHit(x, y);
  IControl* c = target > 0 ? controls_[static_cast<size_t>(target)] : keyCatcher_;
  if (!c) return false;
  return c->HandleKey(x, y, key);
}

// ---------------------------------------------------------------- parameter input

void IGraphics::PromptParameterInput(IControl* control, PlugParam* param,
                                     const PixelRect& rect) {
  if (!control || !param) return;
  bool stepped = param->kind != ParamKindContinuous;
  if (stepped && !param->valueTexts.empty()) {
    char current[64];
    param->FormatValue(param->value, false, true, current, sizeof current);
    int count = static_cast<int>(param->maxValue) + 1;
    if (count < 1 || count > 1024) count = static_cast<int>(param->valueTexts.size());
    PopupMenu menu;
    for (int i = 0; i < count; ++i) {
      PopupMenuItem item;
      const char* text = param->ValueTextFor(i);
      item.text = text ? text : "";
      if (item.text == current) item.flags |= PopupMenuItem::Checked;
      menu.items.push_back(item);
    }
    PopupMenu* chosen = ShowPopupMenu(&menu, ToPixels(rect));
    if (chosen && chosen->chosenIndex >= 0) {
      control->ReceiveUserValue(param->NormalizedFromPlain(chosen->chosenIndex));
    }
    return;
  }
  double v = param->value;
  if (param->negateDisplay) v = -v;
  char text[64];
  if (param->displayPrecision > 0)
    std::snprintf(text, sizeof text, "%.*f", param->displayPrecision, v);
  else
    std::snprintf(text, sizeof text, "%d",
                  (v > -2147483648.0 && v < 2147483648.0) ? static_cast<int>(v) : 0);
  ShowTextEntry(control, ScaledStyle(control->Style()), ToPixels(rect), text, param);
}

// ---------------------------------------------------------------- text

PIX_CachedFont* IGraphics::FindOrCreateFont(TextStyle& style) {
  FontCache& cache = Fonts();
  {
    std::lock_guard<std::mutex> guard(cache.lock);
    for (auto& e : cache.entries)
      if (e.size == style.size && e.orientation == style.orientation && e.style == style.style &&
          e.name == style.fontName) {
        style.cachedFont = e.font;
        return e.font;
      }
  }
  // Created outside the lock: two threads may create the same font twice;
  // both entries stay valid.
  std::unique_ptr<GlyphRasterizer> rasterizer =
      CreateGlyphRasterizer(style.fontName, style.size, style.style, style.quality);
  if (!rasterizer) return nullptr;
  auto* font = new PIX_CachedFont;
  font->SetFromHandle(std::move(rasterizer), FontOwnsHandle | FontPreferNative);
  {
    std::lock_guard<std::mutex> guard(cache.lock);
    cache.entries.push_back({style.size, style.orientation, style.style, style.fontName, font});
  }
  style.cachedFont = font;
  return font;
}

int IGraphics::CachedFontCount() {
  FontCache& cache = Fonts();
  std::lock_guard<std::mutex> guard(cache.lock);
  return static_cast<int>(cache.entries.size());
}

static int FormatForStyle(const TextStyle& style) {
  int format = TextFormatNoClip;
  if (style.alignment == AlignCentre) format |= TextFormatCentre;
  if (style.alignment == AlignRight) format |= TextFormatRight;
  if (style.colour.A != 255) format |= TextFormatUseColourAlpha;
  return format;
}

bool IGraphics::DrawTextInRect(TextStyle& style, const char* text, const PixelRect& rect) {
  if (!text || !text[0]) return true;
  if (scale_ != 1.0) {
    // Rasterized at the pixel size, never a scaled bitmap of the 1x text.
    TextStyle scaled = ScaledStyle(style);
    PIX_CachedFont* font = FindOrCreateFont(scaled);
    if (!font) return false;
    font->SetTextColour(scaled.colour.ToPixel());
    PixelRect r(static_cast<int>(std::lround(rect.left * scale_)),
                static_cast<int>(std::lround(rect.top * scale_)),
                static_cast<int>(std::lround(rect.right * scale_)),
                static_cast<int>(std::lround(rect.bottom * scale_)));
    font->DrawTextInto(backBuffer_, text, -1, &r, FormatForStyle(scaled), &clipPixels_);
    return true;
  }
  PIX_CachedFont* font = style.cachedFont ? style.cachedFont : FindOrCreateFont(style);
  if (!font) return false;
  font->SetTextColour(style.colour.ToPixel());
  PixelRect r = rect;
  font->DrawTextInto(backBuffer_, text, -1, &r, FormatForStyle(style), &clipPixels_);
  return true;
}

bool IGraphics::MeasureTextInRect(const TextStyle& style, const char* text, PixelRect* rect) {
  if (!text || !text[0] || !rect) return true;
  TextStyle s = style;
  PIX_CachedFont* font = s.cachedFont ? s.cachedFont : FindOrCreateFont(s);
  if (!font) return false;
  font->SetTextColour(s.colour.ToPixel());
  PixelRect measured(0, 0, 0, 0);
  font->DrawTextInto(nullptr, text, -1, &measured, FormatForStyle(s) | TextFormatCalcRect);
  int w = measured.Width(), h = measured.Height();
  if (s.alignment == AlignCentre) {
    rect->left = static_cast<int>((rect->left + rect->right) * 0.5) - w / 2;
    rect->right = rect->left + w;
  } else if (s.alignment == AlignRight) {
    rect->left = rect->right - w;
  } else {
    rect->right = rect->left + w;
  }
  rect->bottom = rect->top + h;
  return true;
}

// ---------------------------------------------------------------- size

void IGraphics::SetEditorSize(int width, int height) {
  width_ = width;
  height_ = height;
  ReleaseCapture();
  mouseOver_ = -1;
  DeleteControls();
  delete backBuffer_;
  backBuffer_ = nullptr;
  CreateBackBuffer();
  if (plug_) plug_->ResizeEditor();
}
