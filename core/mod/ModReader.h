#pragma once
// An open mod file: its zip directory and its manifest, each checked before use.

#include "mod/ModManifest.h"
#include "mod/ModResult.h"
#include "mod/ZipFile.h"

#include <memory>
#include <string>

namespace kiv {

class InFile;

// An open mod: its file, its zip directory and its manifest, each entry a change names
// checked against the zip (present, of the size the change says). Throws EBadMod, with the
// mod's path, when it is not a usable mod; nullptr-free: a file that does not open throws
// too.
class ModReader {
public:
    explicit ModReader(const std::string& path);
    // A file read under another name than messages give it (a mod checked before it is
    // renamed into place).
    ModReader(const std::string& path, const std::string& shown);
    ~ModReader();
    const std::string& Path() const { return path_; }
    const ModManifest& Manifest() const { return manifest_; }
    const InFile& File() const { return *file_; }
    const ZipEntry& Entry(const std::string& name) const;

private:
    std::string path_;
    std::unique_ptr<InFile> file_;
    std::unique_ptr<ZipReader> zip_;
    ModManifest manifest_;
};

// Opens the mod at `path` into `reader`; the result says why not: the file does not open, or
// it is not a usable mod.
ModResult OpenMod(const std::string& path, std::unique_ptr<ModReader>& reader);

} // namespace kiv
