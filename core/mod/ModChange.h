#pragma once
// The changes a mod is made of, each kind with what it carries, and the checks that hold
// whoever reads them: the manifest's reader and the planner.

#include "base/Errors.h"
#include "sprite/SpriteDiff.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace kiv {

class InFile;

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

// The kinds' names as the manifest spells them ("gap", "member", ...), and back (false for
// an unknown name).
const char* KindName(ModChangeKind kind);
bool KindNamed(const std::string& name, ModChangeKind& kind);
// What a change of each kind carries: a base member (all but the gap, the tail and new
// members name one; new members name themselves), the sum of the bytes it replaces, the sum
// and entry of its result, a place.
bool Named(ModChangeKind kind);
bool OfBaseMember(ModChangeKind kind);
bool HasBase(ModChangeKind kind);
bool HasResult(ModChangeKind kind);
bool Placed(ModChangeKind kind);

// The changes of one mod against each other: a member's bytes change once (whole, removed,
// or icon by icon with the icons in ascending order and their streams one after another in
// one entry), it moves once and its name field changes once, the gap and the tail change
// once, nothing goes after a removed member or in a ring of moves. Throws EBadMod.
void CheckChanges(const std::vector<ModChange>& changes);

} // namespace kiv
