// The 2x and 3x packs as files installed with the module (Linux): in the
// folder KESTRUNE_PACK_FOLDER, relative to the folder of the module holding
// this code (or absolute, for the build's own tools and tests). Each file is
// mapped read-only the first time an editor asks for its scale, so an
// instance without an editor above 1x never touches them. A missing,
// unreadable or damaged pack is simply not used: the checks in ImagePacks.cpp
// hold for whatever bytes the file has, and the editor resamples its 1x
// images instead.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <string>

#include "ImagePacks.h"

#ifndef KESTRUNE_PACK_FOLDER
#error "KESTRUNE_PACK_FOLDER names the folder the packs are installed in"
#endif

namespace {

// The packs are 10 to 20 MB; offsets in them are 32-bit.
constexpr off_t kLargestPack = off_t{1} << 30;

std::string PackFolder() {
  const std::string folder = KESTRUNE_PACK_FOLDER;
  if (!folder.empty() && folder[0] == '/') return folder;
  Dl_info info{};
  if (!dladdr(reinterpret_cast<const void*>(&PackFolder), &info) || !info.dli_fname) return {};
  std::string module = info.dli_fname;
  const size_t slash = module.rfind('/');
  module = slash == std::string::npos ? std::string(".") : module.substr(0, slash);
  return module + "/" + folder;
}

struct Mapping {
  const unsigned char* data = nullptr;
  size_t length = 0;
};

Mapping MapFile(const std::string& path) {
  Mapping m;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return m;
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 && st.st_size <= kLargestPack) {
    const size_t length = static_cast<size_t>(st.st_size);
    void* at = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0);
    if (at != MAP_FAILED) {
      // Frames are read one at a time, here and there: no read-ahead.
      madvise(at, length, MADV_RANDOM);
      m.data = static_cast<const unsigned char*>(at);
      m.length = length;
    }
  }
  close(fd);
  return m;
}

// Mapped once per scale for the module's lifetime; unmapped when it unloads
// (hosts load and unload modules many times while scanning).
class PackFiles {
 public:
  ~PackFiles() {
    for (Mapping& m : packs_)
      if (m.data) munmap(const_cast<unsigned char*>(m.data), m.length);
  }
  Mapping Get(int scale) {
    const int i = scale - 2;
    std::lock_guard<std::mutex> hold(lock_);
    if (!tried_[i]) {
      tried_[i] = true;
      const std::string folder = PackFolder();
      if (!folder.empty())
        packs_[i] = MapFile(folder + "/Kestrune@" + std::to_string(scale) + "x.pack");
    }
    return packs_[i];
  }

 private:
  std::mutex lock_;
  bool tried_[2] = {false, false};
  Mapping packs_[2];
};

}  // namespace

bool FindImagePack(int scale, const unsigned char** data, size_t* length) {
  if (!data || !length || (scale != 2 && scale != 3)) return false;
  static PackFiles files;
  const Mapping m = files.Get(scale);
  if (!m.data) return false;
  *data = m.data;
  *length = m.length;
  return true;
}
