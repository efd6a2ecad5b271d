#include "mod/ModReader.h"

#include "base/FileStream.h"
#include "base/TextConv.h"

namespace kiv {

namespace {

[[noreturn]] void Bad(const std::string& why) {
    throw EBadMod(why);
}

} // namespace

ModReader::ModReader(const std::string& path) : ModReader(path, path) {}

ModReader::ModReader(const std::string& path, const std::string& shown) : path_(path) {
    file_ = InFile::Open(path);
    if (!file_)
        throw EFOpenError(shown, OpenFault(path));
    const std::string self = PrintableName(shown);
    try {
        zip_ = std::make_unique<ZipReader>(*file_);
        const ZipEntry* manifest = zip_->Find(ModManifestName);
        if (!manifest)
            Bad(std::string("it holds no ") + ModManifestName + ": not a mod file");
        if (manifest->Size > ModMaxManifest)
            Bad("its manifest is larger than 8 MiB");
        std::string text(static_cast<std::size_t>(manifest->Size), '\0');
        ZipEntryReader(*file_, *manifest).ReadExactly(text.data(), text.size());
        manifest_ = ParseManifest(text);
        for (std::size_t k = 0; k < manifest_.Changes.size(); ++k) {
            const ModChange& c = manifest_.Changes[k];
            if (!HasResult(c.Kind))
                continue;
            const ZipEntry* entry = zip_->Find(c.File);
            const std::string where = "change " + std::to_string(k + 1);
            if (!entry)
                Bad(where + " names an entry the file does not hold");
            const bool fits = c.Kind == ModChangeKind::Icon
                                  ? c.At + c.Length <= entry->Size
                                  : entry->Size == c.Result.Size && entry->Crc == c.Result.Crc;
            if (!fits)
                Bad(where + ": its entry does not hold what the change says");
        }
    } catch (const EBadZip& e) {
        throw EBadMod(self + " is not a usable mod file: " + e.what());
    } catch (const EBadMod& e) {
        throw EBadMod(self + " is not a usable mod file: " + e.what());
    }
}

ModReader::~ModReader() = default;

const ZipEntry& ModReader::Entry(const std::string& name) const {
    return *zip_->Find(name); // every name a change uses was checked on opening
}

ModResult OpenMod(const std::string& path, std::unique_ptr<ModReader>& reader) {
    try {
        reader = std::make_unique<ModReader>(path);
    } catch (const EFOpenError& e) {
        return ModResult::Failure(ErrorText(e));
    } catch (const EBadMod& e) {
        return ModResult::Failure(e.what());
    }
    return {};
}

} // namespace kiv
