#pragma once
// A mod file (".kivmod"): what changed between two archives, and only that, for sharing
// without the game's own data. A zip file: "kivmod.json", the manifest (format, version,
// title, author, note, and one record per change with the size and CRC-32 of the bytes it
// replaces and of its result), then one entry per changed member's new bytes and one per
// member whose icons changed, holding those icons. docs/mod-format.md describes it for other
// tools. Reading a mod takes a file from a stranger: every field is checked before use and
// names inside it are only ever compared with the archive's member names.

#include "archive/ArchiveDiff.h"
#include "base/Errors.h"
#include "base/ZipFile.h"
#include "sprite/S16Format.h"
#include "sprite/SpriteDiff.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace kiv {

class InFile;

inline constexpr int ModFormatVersion = 1;
inline constexpr const char* ModManifestName = "kivmod.json";
// The manifest is read whole: larger ones are refused before they are inflated.
inline constexpr std::int64_t ModMaxManifest = 8 << 20;
// An icon's new bytes are compressed in pieces of this size, each against the base bytes
// around the same place.
inline constexpr std::int64_t ModIconPiece = 16 << 10;

// How an icon change's new bytes are stored. Pieces: in pieces, each a zlib stream with the
// base bytes around it as preset dictionary. Xor: one zlib stream of the new bytes XOR the
// base bytes at the same place (past the base's end, the new bytes as they are), so the bytes
// that stayed become zeros.
enum class IconCoding { Pieces, Xor };

// A mod file that cannot be used: not a zip, no manifest, a field missing or out of range,
// a change that contradicts another, damaged data. The message says which.
class EBadMod : public Exception {
public:
    using Exception::Exception;
};

// The size and CRC-32 (zlib's) of a run of bytes.
struct ByteSum {
    std::int64_t Size = 0;
    std::uint32_t Crc = 0;
    bool operator==(const ByteSum&) const = default;
};
ByteSum SumOf(const void* data, std::size_t count);
// Of bytes [from, to) of `file`; throws EReadError when the file does not hold them.
ByteSum RangeSum(const InFile& file, std::int64_t from, std::int64_t to);

// A member of the base archive: its name and, for a name listed more than once, which of
// those it is (1 for the first). Repeated only changes how it is shown.
struct MemberKey {
    std::string Name;
    std::int32_t Copy = 1;
    bool Repeated = false; // the name is listed more than once in either archive
    bool operator==(const MemberKey& other) const {
        return Name == other.Name && Copy == other.Copy;
    }
    auto operator<=>(const MemberKey& other) const {
        return std::tie(Name, Copy) <=> std::tie(other.Name, other.Copy);
    }
};
// As listings show a member: "hero.s16", or "tile.s16 (2nd)" for a repeated name.
std::string MemberLabel(const MemberKey& key);

enum class ModChangeKind {
    Gap,    // the bytes between the directory and the first member
    Member, // a member's bytes, whole
    Icon,   // one icon of a member: its header (but the data offset) and its data
    Add,    // a new member
    Remove, // a member dropped
    Move,   // a member put elsewhere in the directory (its bytes change by other changes)
    Field,  // the bytes after a member's name in its directory entry
    Tail,   // the bytes after the last member
};

struct ModChange {
    ModChangeKind Kind = ModChangeKind::Member;
    MemberKey Member;      // the base member; Add: the new member's name
    std::int32_t Icon = 0; // Icon: 1-based
    bool Header = true;    // Icon: what changed, for listings
    bool Data = true;
    bool First = false;  // Add, Move: placed before every base member, else right after After
    MemberKey After;     // Add, Move
    ByteSum Base;        // Gap, Member, Icon, Remove, Tail
    ByteSum Result;      // Gap, Member, Icon, Add, Tail
    std::string File;    // the zip entry with the result, or with the member's icon streams
    std::int64_t At = 0; // Icon: where its stream starts in File, and its length
    std::int64_t Length = 0;
    IconCoding Coding = IconCoding::Pieces; // Icon
    // Add, Field: the 13 bytes of the name field as stored, when other than the name followed
    // by NULs (for Field always).
    std::string NameField;
    // For listings only: the member's listing rows in the base (RowA) and in the archive the
    // mod makes (RowB), where known, and for a member both archives hold as sprite files, which
    // of its icons changed.
    std::int32_t RowA = 0;
    std::int32_t RowB = 0;
    std::optional<SpriteDiff> Icons;
};

struct ModManifest {
    int Version = ModFormatVersion;
    std::string Title;
    std::string Author;
    std::string Note;
    std::int64_t BaseSize = 0; // the archive the mod was made from
    std::int64_t BaseMembers = 0;
    std::vector<ModChange> Changes; // in the order of the archive they make
};

// The manifest as JSON, and back. Names are JSON strings whose characters U+0000..U+00FF
// stand for the bytes of the name. Reading checks every field and the changes against each
// other (a member's bytes changed once, whole or icon by icon, icons in ascending order with
// their streams one after another in one entry; a member moved once) and throws EBadMod.
std::string ManifestJson(const ModManifest& manifest);
ModManifest ParseManifest(const std::string& json);

// What a mod changes, as the comparison of its base with the archive it makes lists it
// (rows that the manifest does not give are 1).
ArchiveDiff ModChanges(const ModManifest& manifest);

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

// The bytes of an icon as a mod compares and stores them: its 40-byte header with the data
// offset (Starts) set to 0, then its data. `read(from, count, into)` gives those bytes; the
// functions below take the base icon that way.
using IconBytes = std::function<void(std::int64_t from, std::size_t count, unsigned char* into)>;

// Icon `icon` (1-based) of the sprite file at `start` of `file`: its header as stored.
// Throws EReadError when the file does not hold it.
TIconHeader StoredHeader(const InFile& file, std::int64_t start, std::int32_t icon);
// The bytes of that icon as mods compare and store them, the sprite file holding `count`
// icons; and their size and CRC-32.
IconBytes IconOf(const InFile& file, std::int64_t start, std::int32_t count,
                 const TIconHeader& stored);
ByteSum IconSum(const InFile& file, std::int64_t start, std::int32_t count,
                const TIconHeader& stored);

// Compresses an icon's new bytes (`result`, `resultSize` of them) against its base bytes in
// whichever coding comes out smaller. Pieces: piece k (ModIconPiece bytes of the result)
// becomes one zlib stream whose preset dictionary is the base bytes [k - 1, k + 1) pieces,
// clipped to the base. Xor: see IconCoding. Either way a few changed pixels cost a few bytes.
// Hands the compressed bytes to `write` and returns their length and coding.
struct CompressedIcon {
    std::int64_t Length = 0;
    IconCoding Coding = IconCoding::Pieces;
};
CompressedIcon CompressIcon(const IconBytes& base, std::int64_t baseSize, const IconBytes& result,
                            std::int64_t resultSize,
                            const std::function<void(const unsigned char*, std::size_t)>& write);

// The reverse: reads exactly `length` bytes of the coding's streams from `stream` and hands
// the icon's `resultSize` bytes to `emit`, a piece at a time. Throws EBadMod on damaged data,
// and EBadZip when the entry itself is.
void ExpandIcon(const IconBytes& base, std::int64_t baseSize, ZipEntryReader& stream,
                std::int64_t length, std::int64_t resultSize, IconCoding coding,
                const std::function<void(const unsigned char*, std::size_t)>& emit);

} // namespace kiv
