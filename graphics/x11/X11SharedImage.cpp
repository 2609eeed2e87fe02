#include "X11SharedImage.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstring>

#include "PIX_Bitmap.h"
#include "X11ErrorTrap.h"

X11SharedImage* X11SharedImage::Create(Display* display, Visual* visual, int depth, int width,
                                       int height) {
  if (!display || width <= 0 || height <= 0 || !XShmQueryExtension(display)) return nullptr;
  auto* shared = new X11SharedImage;
  shared->display_ = display;
  shared->image_ = XShmCreateImage(display, visual, static_cast<unsigned>(depth), ZPixmap,
                                   nullptr, &shared->segment_, static_cast<unsigned>(width),
                                   static_cast<unsigned>(height));
  if (!shared->image_ || shared->image_->bits_per_pixel != 32) {
    delete shared;
    return nullptr;
  }
  const size_t bytes =
      static_cast<size_t>(shared->image_->bytes_per_line) * static_cast<size_t>(height);
  shared->segment_.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
  if (shared->segment_.shmid < 0) {
    delete shared;
    return nullptr;
  }
  void* memory = shmat(shared->segment_.shmid, nullptr, 0);
  if (memory == reinterpret_cast<void*>(-1)) {
    shmctl(shared->segment_.shmid, IPC_RMID, nullptr);
    shared->segment_.shmid = -1;
    delete shared;
    return nullptr;
  }
  shared->segment_.shmaddr = shared->image_->data = static_cast<char*>(memory);
  shared->segment_.readOnly = False;
  bool ok;
  {
    X11ErrorTrap trap(display);
    ok = XShmAttach(display, &shared->segment_) && !trap.Failed();
  }
  // Marked for removal at once: the segment goes when both sides detach,
  // whatever happens to this process.
  shmctl(shared->segment_.shmid, IPC_RMID, nullptr);
  if (!ok) {
    delete shared;
    return nullptr;
  }
  shared->attached_ = true;
  return shared;
}

X11SharedImage::~X11SharedImage() {
  if (attached_) {
    X11ErrorTrap trap(display_);
    XShmDetach(display_, &segment_);
  }
  if (segment_.shmaddr) shmdt(segment_.shmaddr);
  if (image_) {
    image_->data = nullptr;
    XDestroyImage(image_);
  }
}

void X11SharedImage::Put(Drawable target, GC gc, const PIX_IBitmap& source,
                         const PixelRect& rect) {
  const int w = rect.Width(), h = rect.Height();
  if (w <= 0 || h <= 0 || rect.right > image_->width || rect.bottom > image_->height) return;
  for (int y = rect.top; y < rect.bottom; ++y) {
    const uint32_t* from = source.PixelData() + static_cast<size_t>(y) * source.RowSpan() + rect.left;
    char* to = image_->data + static_cast<size_t>(y) * image_->bytes_per_line +
               static_cast<size_t>(rect.left) * 4;
    std::memcpy(to, from, static_cast<size_t>(w) * 4);
  }
  XShmPutImage(display_, target, gc, image_, rect.left, rect.top, rect.left, rect.top,
               static_cast<unsigned>(w), static_cast<unsigned>(h), False);
  XSync(display_, False);
}
