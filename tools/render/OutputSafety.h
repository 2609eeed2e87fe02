// Keeping kestrune-render from destroying a user's files: every output is
// compared with every input and with every other output before anything is
// written, both by path and by file identity (device and inode, so symbolic
// and hard links are seen through); output folders are checked for being
// writable; and an output that is a symbolic link is written through.
#pragma once

#include <string>
#include <vector>

namespace render {

// A file the run reads or writes, with the option that named it, as the
// user wrote it ("-o", "--plot-png", "the input", "--sidechain", ...).
struct NamedFile {
  std::string option;
  std::string path;
  std::string compared = {};  // the file really read, when not `path` itself
};

// The file an output really replaces. A symbolic link is written through:
// its target gets the new contents and the link stays. A link to a device
// or a pipe (/dev/stdout) is kept as it is, to be opened for writing. False
// with `error` for a link whose target does not exist.
bool ResolveOutputPath(const std::string& path, std::string& resolved, std::string& error);

// Whether two names reach one file: the same existing file (device and
// inode, following links), or the same place in the same folder for files
// that do not exist yet.
bool SameFile(const std::string& a, const std::string& b);

// False with a message naming both options when an output is one of the
// inputs or another output.
bool CheckNoCollision(const std::vector<NamedFile>& inputs, const std::vector<NamedFile>& outputs,
                      std::string& error);

// An output's folder must exist and be writable and the output must not be
// a folder or write-protected; checked before any work starts. A device or
// a pipe only needs to be writable itself.
bool CheckWritable(const std::string& path, std::string& error);

// Nothing inside a plug-in bundle (a .vst3 or .lv2 folder: its library,
// .ttl files, factory presets and image packs) or a VST2 module's image
// folder (Kestrune.images beside Kestrune.so) is ever written, whether the
// bundle is loaded or not; nor the bundles and modules in `modules` (the
// loaded one and those the tool knows of), whatever they are named. The
// output is judged where it lands, after links. False with a message.
bool CheckOutsideModules(const NamedFile& output, const std::vector<std::string>& modules, std::string& error);

// For -n: false with a message when an output is an existing file. Devices
// and pipes are written into, not overwritten, and pass.
bool CheckNotExisting(const NamedFile& output, std::string& error);

std::string FolderOf(const std::string& path);
std::string BaseNameOf(const std::string& path);

}  // namespace render
