#include "OutputSafety.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace render {
namespace {

std::string RealPath(const std::string& path) {
  char buffer[PATH_MAX];
  return realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

// The absolute place a name stands for: the resolved file when it exists,
// otherwise the resolved folder plus the name.
std::string PlaceOf(const std::string& path) {
  std::string real = RealPath(path);
  if (!real.empty()) return real;
  std::string folder = RealPath(FolderOf(path));
  return folder.empty() ? path : folder + "/" + BaseNameOf(path);
}

std::string Describe(const NamedFile& file) {
  return file.option + " '" + file.path + "'";
}

bool EndsWith(const std::string& text, const std::string& end) {
  if (text.size() < end.size()) return false;
  for (size_t i = 0; i < end.size(); ++i) {
    if (tolower(static_cast<unsigned char>(text[text.size() - end.size() + i])) != end[i]) return false;
  }
  return true;
}

bool IsFolder(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool IsFile(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// What `folder` (absolute, resolved) is, when it is part of a plug-in: a
// bundle, or the image folder beside a VST2 module.
const char* PluginFolderKind(const std::string& folder) {
  if ((EndsWith(folder, ".vst3") || EndsWith(folder, ".lv2")) && IsFolder(folder)) return "the plug-in bundle";
  if (EndsWith(folder, ".images") && IsFolder(folder)) {
    const std::string stem = folder.substr(0, folder.size() - 7);
    if (IsFile(stem + ".so") || IsFile(stem + ".dll")) return "the plug-in's image folder";
  }
  return nullptr;
}

// `place` is `root` or lies inside it.
bool Within(const std::string& place, const std::string& root) {
  return !root.empty() && place.compare(0, root.size(), root) == 0 &&
         (place.size() == root.size() || place[root.size()] == '/' || root == "/");
}

}  // namespace

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool ResolveOutputPath(const std::string& path, std::string& resolved, std::string& error) {
  struct stat link, target;
  if (lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode) ||
      (stat(path.c_str(), &target) == 0 && !S_ISREG(target.st_mode) && !S_ISDIR(target.st_mode))) {
    resolved = path;
    return true;
  }
  resolved = RealPath(path);
  if (resolved.empty()) {
    error = "cannot write '" + path + "': it is a symbolic link to a file that does not exist";
    return false;
  }
  return true;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0) {
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  }
  return a == b || PlaceOf(a) == PlaceOf(b);
}

bool CheckNoCollision(const std::vector<NamedFile>& inputs, const std::vector<NamedFile>& outputs,
                      std::string& error) {
  for (size_t o = 0; o < outputs.size(); ++o) {
    if (outputs[o].path.empty() || outputs[o].path == "-") continue;
    for (const NamedFile& input : inputs) {
      if (input.path.empty() || input.path == "-") continue;
      if (SameFile(outputs[o].path, input.compared.empty() ? input.path : input.compared)) {
        error = Describe(outputs[o]) + " is the same file as " + Describe(input) +
                ", which it would overwrite; choose another name";
        return false;
      }
    }
    for (size_t p = 0; p < o; ++p) {
      if (outputs[p].path.empty() || outputs[p].path == "-") continue;
      if (SameFile(outputs[o].path, outputs[p].path)) {
        error = Describe(outputs[p]) + " and " + Describe(outputs[o]) +
                " name the same file; give each output its own name";
        return false;
      }
    }
  }
  return true;
}

bool CheckWritable(const std::string& path, std::string& error) {
  const std::string folder = FolderOf(path);
  struct stat status;
  if (stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode)) {
    if (access(path.c_str(), W_OK) == 0) return true;
    error = "cannot write '" + path + "': " + strerror(errno);
    return false;
  }
  if (stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    error = "cannot write '" + path + "': folder '" + folder + "' does not exist";
    return false;
  }
  if (access(folder.c_str(), W_OK) != 0) {
    error = "cannot write '" + path + "': folder '" + folder + "' is not writable";
    return false;
  }
  if (stat(path.c_str(), &status) == 0) {
    if (S_ISDIR(status.st_mode)) {
      error = "cannot write '" + path + "': it is a folder";
      return false;
    }
    if (access(path.c_str(), W_OK) != 0) {
      error = "cannot write '" + path + "': the file is write-protected";
      return false;
    }
  }
  return true;
}

bool CheckOutsideModules(const NamedFile& output, const std::vector<std::string>& modules, std::string& error) {
  if (output.path.empty() || output.path == "-") return true;
  // Where the name stands (a link in the bundle itself) and where a write lands.
  const std::string folder = RealPath(FolderOf(output.path));
  std::vector<std::string> places;
  if (!folder.empty()) places.push_back(folder + "/" + BaseNameOf(output.path));
  places.push_back(PlaceOf(output.path));
  auto refuse = [&](const char* kind, const std::string& root) {
    error = Describe(output) + " is inside " + kind + " '" + root +
            "', which is never written; choose a name outside it";
    return false;
  };
  for (const std::string& module : modules) {
    const std::string root = RealPath(module);
    if (root.empty()) continue;
    const size_t dot = root.find_last_of('.');
    const std::string stem = dot == std::string::npos || dot < root.find_last_of('/') ? root : root.substr(0, dot);
    const std::string images = IsFolder(root) ? std::string() : RealPath(stem + ".images");
    for (const std::string& place : places) {
      if (Within(place, root)) return refuse(IsFolder(root) ? "the plug-in bundle" : "the plug-in module", root);
      if (Within(place, images)) return refuse("the plug-in's image folder", images);
    }
  }
  for (const std::string& place : places) {
    for (std::string ancestor = place; ancestor.size() > 1; ancestor = FolderOf(ancestor)) {
      if (const char* kind = PluginFolderKind(ancestor)) return refuse(kind, ancestor);
    }
  }
  return true;
}

bool CheckNotExisting(const NamedFile& output, std::string& error) {
  struct stat status;
  if (output.path.empty() || output.path == "-" || stat(output.path.c_str(), &status) != 0 ||
      !S_ISREG(status.st_mode)) {
    return true;
  }
  error = Describe(output) + " exists and -n (--no-clobber) keeps existing files; choose another name";
  return false;
}

}  // namespace render
