// PNG decoding on Windows with the Windows Imaging Component.
//
// The result is the same straight-alpha 0xAARRGGBB bitmap the libpng decoder
// makes on Linux: WIC's 32bppBGRA format is non-premultiplied and its bytes
// in memory (B, G, R, A) are exactly that pixel value, so 8-bit RGBA and RGB
// images come out pixel for pixel identical.
#include <windows.h>
#include <wincodec.h>

#include <cstring>

#include "PIX_Bitmap.h"
#include "PngCodec.h"

namespace {

// Releases a COM interface pointer when the scope ends.
template <typename T>
struct ComRef {
  T* p = nullptr;
  ~ComRef() {
    if (p) p->Release();
  }
  T** operator&() { return &p; }
  T* operator->() const { return p; }
  explicit operator bool() const { return p != nullptr; }
};

// COM must be initialised on the calling thread for the factory. Hosts
// usually have done so on their user-interface thread; when not, the decoder
// initialises it for the duration of one decode and undoes that afterwards.
class ComScope {
 public:
  ComScope() {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    initialised_ = SUCCEEDED(hr);  // S_FALSE (already initialised) must be balanced too
  }
  ~ComScope() {
    if (initialised_) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  bool initialised_ = false;
};

PIX_MemBitmap* Decode(const unsigned char* data, size_t length) {
  ComRef<IWICImagingFactory> factory;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory1, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IWICImagingFactory, reinterpret_cast<void**>(&factory))))
    return nullptr;
  ComRef<IWICStream> stream;
  if (FAILED(factory->CreateStream(&stream)) ||
      FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(data), static_cast<DWORD>(length))))
    return nullptr;
  // Only the PNG decoder: the bytes were already checked to be a PNG file.
  ComRef<IWICBitmapDecoder> decoder;
  if (FAILED(factory->CreateDecoder(GUID_ContainerFormatPng, nullptr, &decoder)) ||
      FAILED(decoder->Initialize(stream.p, WICDecodeMetadataCacheOnDemand)))
    return nullptr;
  ComRef<IWICBitmapFrameDecode> frame;
  if (FAILED(decoder->GetFrame(0, &frame))) return nullptr;
  UINT width = 0, height = 0;
  if (FAILED(frame->GetSize(&width, &height))) return nullptr;
  if (width < 1 || height < 1 || width > static_cast<UINT>(kMaxImageSide) ||
      height > static_cast<UINT>(kMaxImageSide) ||
      static_cast<long long>(width) * height > kMaxImagePixels)
    return nullptr;
  ComRef<IWICFormatConverter> converter;
  if (FAILED(factory->CreateFormatConverter(&converter)) ||
      FAILED(converter->Initialize(frame.p, GUID_WICPixelFormat32bppBGRA,
                                   WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom)))
    return nullptr;

  auto* bitmap = new PIX_MemBitmap;
  bitmap->Resize(static_cast<int>(width), static_cast<int>(height));
  if (bitmap->Width() != static_cast<int>(width) || bitmap->Height() != static_cast<int>(height) ||
      !bitmap->PixelData()) {
    delete bitmap;
    return nullptr;
  }
  const UINT stride = static_cast<UINT>(bitmap->RowSpan()) * 4u;
  const UINT bytes = stride * height;
  if (FAILED(converter->CopyPixels(nullptr, stride, bytes,
                                   reinterpret_cast<BYTE*>(bitmap->PixelData())))) {
    delete bitmap;
    return nullptr;
  }
  return bitmap;
}

}  // namespace

bool PngDecoderAvailable() { return true; }

PIX_MemBitmap* LoadPngFromMemory(const unsigned char* data, size_t length) {
  static const unsigned char kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  if (!data || length <= 7 || length > 0x7FFFFFFF || std::memcmp(data, kSignature, 8) != 0)
    return nullptr;
  ComScope com;
  return Decode(data, length);
}

namespace {

bool Encode(PIX_IBitmap* bitmap, const char* path) {
  ComRef<IWICImagingFactory> factory;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory1, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IWICImagingFactory, reinterpret_cast<void**>(&factory))))
    return false;
  wchar_t widePath[MAX_PATH];
  if (!MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, widePath, MAX_PATH))
    return false;
  ComRef<IWICStream> stream;
  if (FAILED(factory->CreateStream(&stream)) ||
      FAILED(stream->InitializeFromFilename(widePath, GENERIC_WRITE)))
    return false;
  ComRef<IWICBitmapEncoder> encoder;
  if (FAILED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) ||
      FAILED(encoder->Initialize(stream.p, WICBitmapEncoderNoCache)))
    return false;
  ComRef<IWICBitmapFrameEncode> frame;
  ComRef<IPropertyBag2> options;
  if (FAILED(encoder->CreateNewFrame(&frame, &options)) || FAILED(frame->Initialize(options.p)))
    return false;
  const UINT width = static_cast<UINT>(bitmap->Width());
  const UINT height = static_cast<UINT>(bitmap->Height());
  WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
  if (FAILED(frame->SetSize(width, height)) || FAILED(frame->SetPixelFormat(&format)) ||
      !IsEqualGUID(format, GUID_WICPixelFormat32bppBGRA))
    return false;
  const UINT stride = static_cast<UINT>(bitmap->RowSpan()) * 4u;
  if (FAILED(frame->WritePixels(height, stride, stride * height,
                                reinterpret_cast<BYTE*>(bitmap->PixelData()))))
    return false;
  return SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}

}  // namespace

bool WriteBitmapPng(PIX_IBitmap* bitmap, const char* path) {
  if (!bitmap || !path || !bitmap->PixelData() || bitmap->Width() < 1 || bitmap->Height() < 1 ||
      bitmap->IsBottomUp())
    return false;
  ComScope com;
  return Encode(bitmap, path);
}
