#include "archive/ModFile.h"

#include "archive/ArchiveDiff.h"
#include "base/Checksum.h"
#include "base/FileStream.h"
#include "base/TextConv.h"
#include "sprite/S16Format.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <limits>
#include <map>
#include <optional>
#include <set>

namespace kiv {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::int64_t kMaxWord = 0xFFFFFFFFLL;
// The most icons a sprite member can hold: its count word and headers within a member of
// 32-bit end offsets.
constexpr std::int64_t kMaxIcon = (kMaxWord - 4) / IconHeaderSize;
// Deeper JSON than the manifest's own (an object in an array in an object) is refused before
// it is parsed, so nesting costs nothing.
constexpr int kMaxDepth = 6;

[[noreturn]] void Bad(const std::string& why) {
    throw EBadMod(why);
}

constexpr ModChangeKind kKinds[] = {
    ModChangeKind::Gap,    ModChangeKind::Member, ModChangeKind::Icon,  ModChangeKind::Add,
    ModChangeKind::Remove, ModChangeKind::Move,   ModChangeKind::Field, ModChangeKind::Tail};

const char* KindName(ModChangeKind kind) {
    switch (kind) {
    case ModChangeKind::Gap:
        return "gap";
    case ModChangeKind::Member:
        return "member";
    case ModChangeKind::Icon:
        return "icon";
    case ModChangeKind::Add:
        return "add";
    case ModChangeKind::Remove:
        return "remove";
    case ModChangeKind::Move:
        return "move";
    case ModChangeKind::Field:
        return "field";
    case ModChangeKind::Tail:
        return "tail";
    }
    return "";
}

bool Named(ModChangeKind kind) {
    return kind != ModChangeKind::Gap && kind != ModChangeKind::Tail;
}
bool HasBase(ModChangeKind kind) {
    return kind == ModChangeKind::Gap || kind == ModChangeKind::Member ||
           kind == ModChangeKind::Icon || kind == ModChangeKind::Remove ||
           kind == ModChangeKind::Tail;
}
bool HasResult(ModChangeKind kind) {
    return kind == ModChangeKind::Gap || kind == ModChangeKind::Member ||
           kind == ModChangeKind::Icon || kind == ModChangeKind::Add || kind == ModChangeKind::Tail;
}
bool Placed(ModChangeKind kind) {
    return kind == ModChangeKind::Add || kind == ModChangeKind::Move;
}

// Names are bytes; JSON strings are UTF-8. Each byte is written as the character of that
// number, so any name goes through unchanged.
std::string NameToJson(const std::string& name) {
    std::string text;
    for (char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            text += c;
        } else {
            text += static_cast<char>(0xC0 | (b >> 6));
            text += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return text;
}

// The reverse; the parser has checked that the text is UTF-8.
std::string NameFromJson(const std::string& text, const std::string& where) {
    std::string name;
    for (std::size_t k = 0; k < text.size(); ++k) {
        const auto b = static_cast<unsigned char>(text[k]);
        if (b < 0x80) {
            name += static_cast<char>(b);
        } else if ((b == 0xC2 || b == 0xC3) && k + 1 < text.size()) {
            name += static_cast<char>(((b & 0x03) << 6) | (text[++k] & 0x3F));
        } else {
            Bad(where + ": a name holds a character above U+00FF");
        }
    }
    if (name.find('\0') != std::string::npos)
        Bad(where + ": a name holds a NUL");
    return name;
}

std::string ToHex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (char c : bytes) {
        text += digits[static_cast<unsigned char>(c) >> 4];
        text += digits[static_cast<unsigned char>(c) & 15];
    }
    return text;
}

std::string FromHex(const std::string& text, const std::string& where) {
    const auto digit = [&](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        Bad(where + ": \"field\" is not hexadecimal");
    };
    if (text.size() != 2 * ArchiveNameSize)
        Bad(where + ": \"field\" does not hold 13 bytes");
    std::string bytes;
    for (std::size_t k = 0; k < text.size(); k += 2)
        bytes += static_cast<char>(digit(text[k]) * 16 + digit(text[k + 1]));
    return bytes;
}

// The name a name field holds: its bytes up to the first NUL.
std::string NameOfField(const std::string& field) {
    return field.substr(0, std::min(field.find('\0'), field.size()));
}

Json SumJson(const ByteSum& sum) {
    return Json{{"size", sum.Size}, {"crc32", sum.Crc}};
}

const char* PartName(bool header, bool data) {
    return header && data ? "both" : header ? "header" : "pixels";
}

Json IconsJson(const SpriteDiff& icons) {
    Json changed = Json::array();
    for (const IconDiff& icon : icons.Changed)
        changed.push_back(Json::array({icon.Icon, PartName(icon.Header, icon.Data)}));
    Json json{{"counts", {icons.CountA, icons.CountB}}, {"changed", changed}};
    if (icons.OutsideDiffers)
        json["outside"] = true;
    if (icons.StartsDiffer)
        json["reordered"] = true;
    if (!icons.Readable())
        json["faults"] = {icons.FaultA, icons.FaultB};
    return json;
}

// ---- Reading, field by field

const Json& Field(const Json& object, const char* key, const std::string& where) {
    const auto found = object.find(key);
    if (found == object.end())
        Bad(where + ": \"" + key + "\" is missing");
    return *found;
}

std::int64_t Number(const Json& value, std::int64_t low, std::int64_t high,
                    const std::string& what) {
    if (!value.is_number_integer())
        Bad(what + " is not a whole number");
    // Unsigned numbers above the signed range are out of every range here.
    const bool huge =
        value.is_number_unsigned() && value.get<std::uint64_t>() > static_cast<std::uint64_t>(high);
    const std::int64_t number = huge ? high + 1 : value.get<std::int64_t>();
    if (number < low || number > high)
        Bad(what + " is out of range");
    return number;
}

std::int64_t NumberField(const Json& object, const char* key, std::int64_t low, std::int64_t high,
                         const std::string& where) {
    return Number(Field(object, key, where), low, high, where + ": \"" + key + "\"");
}

std::string Text(const Json& value, const std::string& what) {
    if (!value.is_string())
        Bad(what + " is not a text");
    return value.get<std::string>();
}

std::string TextField(const Json& object, const char* key, const std::string& where,
                      bool required = false) {
    const auto found = object.find(key);
    if (found == object.end()) {
        if (required)
            Bad(where + ": \"" + key + "\" is missing");
        return {};
    }
    return Text(*found, where + ": \"" + key + "\"");
}

bool Flag(const Json& object, const char* key, const std::string& where) {
    const auto found = object.find(key);
    if (found == object.end())
        return false;
    if (!found->is_boolean())
        Bad(where + ": \"" + key + "\" is not true or false");
    return found->get<bool>();
}

ByteSum SumField(const Json& object, const char* key, const std::string& where) {
    const Json& sum = Field(object, key, where);
    const std::string inner = where + ", \"" + key + "\"";
    if (!sum.is_object())
        Bad(inner + " is not an object");
    return {NumberField(sum, "size", 0, kMaxWord, inner),
            static_cast<std::uint32_t>(NumberField(sum, "crc32", 0, kMaxWord, inner))};
}

MemberKey KeyField(const Json& object, const std::string& where) {
    MemberKey key;
    key.Name = NameFromJson(TextField(object, "member", where, true), where);
    if (key.Name.size() > static_cast<std::size_t>(ArchiveNameSize))
        Bad(where + ": a member name is longer than 13 bytes");
    key.Repeated = object.contains("copy");
    if (key.Repeated)
        key.Copy = static_cast<std::int32_t>(NumberField(object, "copy", 1, 0x7FFFFFFF, where));
    return key;
}

SpriteDiff ParseIcons(const Json& json, const std::string& where) {
    if (!json.is_object())
        Bad(where + " is not an object");
    SpriteDiff icons;
    const Json& counts = Field(json, "counts", where);
    if (!counts.is_array() || counts.size() != 2)
        Bad(where + ": \"counts\" is not two numbers");
    icons.CountA = static_cast<std::int32_t>(Number(counts[0], 0, kMaxIcon, where));
    icons.CountB = static_cast<std::int32_t>(Number(counts[1], 0, kMaxIcon, where));
    const Json& changed = Field(json, "changed", where);
    if (!changed.is_array())
        Bad(where + ": \"changed\" is not a list");
    for (const Json& item : changed) {
        if (!item.is_array() || item.size() != 2)
            Bad(where + ": \"changed\" holds something other than [icon, part]");
        IconDiff icon;
        icon.Icon = static_cast<std::int32_t>(Number(item[0], 1, kMaxIcon, where));
        const std::string part = Text(item[1], where);
        icon.Header = part != "pixels";
        icon.Data = part != "header";
        icons.Changed.push_back(icon);
    }
    icons.OutsideDiffers = Flag(json, "outside", where);
    icons.StartsDiffer = Flag(json, "reordered", where);
    if (const auto faults = json.find("faults"); faults != json.end()) {
        if (!faults->is_array() || faults->size() != 2)
            Bad(where + ": \"faults\" is not two texts");
        icons.FaultA = Text((*faults)[0], where);
        icons.FaultB = Text((*faults)[1], where);
    }
    return icons;
}

ModChange ParseChange(const Json& json, const std::string& where) {
    if (!json.is_object())
        Bad(where + " is not an object");
    ModChange change;
    const std::string kind = TextField(json, "change", where, true);
    const auto* found = std::find_if(std::begin(kKinds), std::end(kKinds),
                                     [&](ModChangeKind k) { return kind == KindName(k); });
    if (found == std::end(kKinds))
        Bad(where + ": unknown change \"" + PrintableName(kind) + "\"");
    change.Kind = *found;
    if (Named(change.Kind))
        change.Member = KeyField(json, where);
    if (HasBase(change.Kind))
        change.Base = SumField(json, "base", where);
    if (HasResult(change.Kind)) {
        change.Result = SumField(json, "result", where);
        change.File = TextField(json, "file", where, true);
    }
    if (Placed(change.Kind)) {
        const auto after = json.find("after");
        change.First = after == json.end() || after->is_null();
        if (!change.First) {
            if (!after->is_object())
                Bad(where + ": \"after\" is not an object");
            change.After = KeyField(*after, where + ", \"after\"");
        }
    }
    if (change.Kind == ModChangeKind::Add || change.Kind == ModChangeKind::Field) {
        const bool given = json.contains("field");
        if (given)
            change.NameField = FromHex(TextField(json, "field", where), where);
        else if (change.Kind == ModChangeKind::Field)
            Bad(where + ": \"field\" is missing");
        if (given && NameOfField(change.NameField) != change.Member.Name)
            Bad(where + ": \"field\" holds another name");
        // A name field without a NUL runs into the member's offsets in every reader.
        if (change.Kind == ModChangeKind::Add && !given &&
            change.Member.Name.size() == static_cast<std::size_t>(ArchiveNameSize))
            Bad(where + ": the new member " + PrintableName(change.Member.Name) +
                " has a 13-byte name, which leaves its name field no NUL");
        if (given && change.NameField.find('\0') == std::string::npos)
            Bad(where + ": \"field\" holds no NUL after the name");
    }
    if (const auto rows = json.find("rows"); rows != json.end()) {
        if (!rows->is_array() || rows->size() != 2)
            Bad(where + ": \"rows\" is not two numbers");
        change.RowA = static_cast<std::int32_t>(Number((*rows)[0], 0, 0x7FFFFFFF, where));
        change.RowB = static_cast<std::int32_t>(Number((*rows)[1], 0, 0x7FFFFFFF, where));
    }
    if (change.Kind == ModChangeKind::Icon) {
        change.Icon = static_cast<std::int32_t>(NumberField(json, "icon", 1, kMaxIcon, where));
        const std::string part = TextField(json, "part", where);
        change.Header = part != "pixels";
        change.Data = part != "header";
        change.At = NumberField(json, "at", 0, kMaxWord, where);
        change.Length = NumberField(json, "length", 1, kMaxWord, where);
        if (const auto coding = json.find("coding"); coding != json.end()) {
            if (Text(*coding, where) != "xor")
                Bad(where + ": unknown \"coding\"");
            change.Coding = IconCoding::Xor;
        }
        if (change.Base.Size < IconHeaderSize || change.Result.Size < IconHeaderSize)
            Bad(where + ": an icon is at least its 40-byte header");
    }
    if (const auto icons = json.find("icons");
        icons != json.end() &&
        (change.Kind == ModChangeKind::Member || change.Kind == ModChangeKind::Add))
        change.Icons = ParseIcons(*icons, where + ", \"icons\"");
    return change;
}

// Where new and moved members go: `after` names a base member by its place in the base, also
// when this mod moves that member too; a member this mod removes has no place to go after,
// and moves that go after one another in a ring (or after themselves) have no first one.
void CheckPlaces(const std::vector<ModChange>& changes,
                 const std::map<MemberKey, const ModChange*>& bytes,
                 const std::map<MemberKey, const ModChange*>& moved) {
    for (std::size_t k = 0; k < changes.size(); ++k) {
        const ModChange& c = changes[k];
        if (!Placed(c.Kind) || c.First)
            continue;
        const std::string where = "change " + std::to_string(k + 1);
        const auto removed = bytes.find(c.After);
        if (removed != bytes.end() && removed->second->Kind == ModChangeKind::Remove)
            Bad(where + " puts " + MemberLabel(c.Member) + " after member " + MemberLabel(c.After) +
                ", which this mod removes");
        if (c.Kind == ModChangeKind::Move && c.After == c.Member)
            Bad(where + " moves member " + MemberLabel(c.Member) + " after itself");
    }
    // Each moved member leads to at most one other (the moved member it goes after): a walk
    // from each, marking where it has been, finds every ring once.
    std::map<MemberKey, int> state; // 1: on the current walk, 2: done
    for (const auto& [start, change] : moved) {
        std::vector<const ModChange*> walk;
        const ModChange* at = change;
        while (at && !state.count(at->Member)) {
            state[at->Member] = 1;
            walk.push_back(at);
            const auto next = at->First ? moved.end() : moved.find(at->After);
            at = next == moved.end() ? nullptr : next->second;
        }
        if (at && state[at->Member] == 1) {
            std::vector<std::string> ring;
            for (auto it = std::find(walk.begin(), walk.end(), at); it != walk.end(); ++it)
                ring.push_back(MemberLabel((*it)->Member));
            std::string names;
            for (std::size_t n = 0; n < ring.size(); ++n)
                names += (n == 0 ? "" : n + 1 == ring.size() ? " and " : ", ") + ring[n];
            Bad("members " + names + " are moved each after another of them, in a ring");
        }
        for (const ModChange* done : walk)
            state[done->Member] = 2;
    }
}

// A member's bytes change once (whole, removed, or icon by icon with the icons in order and
// their streams one after another in one entry), it moves once and its name field changes
// once; the gap and the tail change once.
void CheckTogether(const std::vector<ModChange>& changes) {
    bool gap = false, tail = false;
    std::map<MemberKey, const ModChange*> bytes, lastIcon, moved, field;
    const auto once = [](std::map<MemberKey, const ModChange*>& seen, const ModChange& c,
                         const std::string& where) {
        if (!seen.emplace(c.Member, &c).second)
            Bad(where + " changes member " + MemberLabel(c.Member) + " a second time");
    };
    for (std::size_t k = 0; k < changes.size(); ++k) {
        const ModChange& c = changes[k];
        const std::string where = "change " + std::to_string(k + 1);
        switch (c.Kind) {
        case ModChangeKind::Gap:
        case ModChangeKind::Tail: {
            bool& seen = c.Kind == ModChangeKind::Gap ? gap : tail;
            if (seen)
                Bad(where + " changes the " + KindName(c.Kind) + " a second time");
            seen = true;
            break;
        }
        case ModChangeKind::Member:
        case ModChangeKind::Remove:
            if (lastIcon.count(c.Member))
                Bad(where + " changes member " + MemberLabel(c.Member) + " a second time");
            once(bytes, c, where);
            break;
        case ModChangeKind::Icon: {
            if (bytes.count(c.Member))
                Bad(where + " changes member " + MemberLabel(c.Member) + " a second time");
            const auto before = lastIcon.find(c.Member);
            if (before != lastIcon.end()) {
                const ModChange& p = *before->second;
                if (c.Icon <= p.Icon || c.File != p.File || c.At < p.At + p.Length)
                    Bad(where + ": the icons of member " + MemberLabel(c.Member) +
                        " are not in order, one stream after another");
            }
            lastIcon[c.Member] = &c;
            break;
        }
        case ModChangeKind::Move:
            once(moved, c, where);
            break;
        case ModChangeKind::Field:
            once(field, c, where);
            break;
        case ModChangeKind::Add:
            break;
        }
    }
    for (const auto& [key, change] : bytes)
        if (change->Kind == ModChangeKind::Remove && (moved.count(key) || field.count(key)))
            Bad("member " + MemberLabel(key) + " is removed, yet changed otherwise too");
    CheckPlaces(changes, bytes, moved);
}

} // namespace

ByteSum SumOf(const void* data, std::size_t count) {
    return {static_cast<std::int64_t>(count), Crc32(data, count)};
}

ByteSum RangeSum(const InFile& file, std::int64_t from, std::int64_t to) {
    std::uint32_t crc = 0;
    if (!Crc32Of(file, from, to - from, crc))
        throw EReadError();
    return {to - from, crc};
}

std::string MemberLabel(const MemberKey& key) {
    MemberDiff member;
    member.Name = key.Name;
    member.Occurrence = key.Copy;
    member.Repeated = key.Repeated;
    return MemberLabel(member);
}

std::string ManifestJson(const ModManifest& manifest) {
    Json changes = Json::array();
    const auto key = [](Json& into, const MemberKey& member) {
        into["member"] = NameToJson(member.Name);
        if (member.Repeated)
            into["copy"] = member.Copy;
    };
    for (const ModChange& c : manifest.Changes) {
        Json j{{"change", KindName(c.Kind)}};
        if (Named(c.Kind))
            key(j, c.Member);
        if (c.Kind == ModChangeKind::Move)
            j["rows"] = {c.RowA, c.RowB};
        if (c.Kind == ModChangeKind::Icon) {
            j["icon"] = c.Icon;
            j["part"] = PartName(c.Header, c.Data);
        }
        if (Placed(c.Kind) && !c.First) {
            Json after = Json::object();
            key(after, c.After);
            j["after"] = after;
        }
        if (!c.NameField.empty())
            j["field"] = ToHex(c.NameField);
        if (HasBase(c.Kind))
            j["base"] = SumJson(c.Base);
        if (HasResult(c.Kind)) {
            j["result"] = SumJson(c.Result);
            j["file"] = c.File;
        }
        if (c.Kind == ModChangeKind::Icon) {
            j["at"] = c.At;
            j["length"] = c.Length;
            if (c.Coding == IconCoding::Xor)
                j["coding"] = "xor";
        }
        if (c.Icons)
            j["icons"] = IconsJson(*c.Icons);
        changes.push_back(std::move(j));
    }
    const Json head{{"format", "kivmod"},
                    {"version", manifest.Version},
                    {"title", manifest.Title},
                    {"author", manifest.Author},
                    {"note", manifest.Note},
                    {"base", {{"size", manifest.BaseSize}, {"members", manifest.BaseMembers}}}};
    // One field, and one change, per line: short, and still easy to read. Text that is not
    // UTF-8 (a title typed in another encoding) is mended, not refused.
    const auto text = [](const Json& json) {
        return json.dump(-1, ' ', false, Json::error_handler_t::replace);
    };
    std::string out = "{\n";
    for (const auto& [key, value] : head.items())
        out += text(key) + ":" + text(value) + ",\n";
    out += "\"changes\":[";
    for (std::size_t k = 0; k < changes.size(); ++k)
        out += (k == 0 ? "\n" : ",\n") + text(changes[k]);
    return out + "\n]}\n";
}

ModManifest ParseManifest(const std::string& text) {
    // Looked at before parsing, not from a parser callback: a callback parser looks through
    // the whole list of changes again at the end of each change.
    if (JsonNestedDeeperThan(text, kMaxDepth))
        Bad("the manifest is nested deeper than a manifest is");
    Json json;
    try {
        json = Json::parse(text);
    } catch (const Json::exception& e) {
        Bad(std::string("the manifest is not valid JSON (") + e.what() + ")");
    }
    const std::string where = "the manifest";
    if (!json.is_object())
        Bad(where + " is not a JSON object");
    if (TextField(json, "format", where, true) != "kivmod")
        Bad(where + " is not a mod's");
    ModManifest manifest;
    manifest.Version = static_cast<int>(NumberField(json, "version", 1, 1000000, where));
    if (manifest.Version > ModFormatVersion)
        Bad("the mod has format version " + std::to_string(manifest.Version) +
            "; this kivtool reads version " + std::to_string(ModFormatVersion) +
            ": a newer kivtool made it");
    manifest.Title = TextField(json, "title", where);
    manifest.Author = TextField(json, "author", where);
    manifest.Note = TextField(json, "note", where);
    if (const auto base = json.find("base"); base != json.end() && base->is_object()) {
        manifest.BaseSize = NumberField(*base, "size", 0, kMaxWord, where + ", \"base\"");
        manifest.BaseMembers = NumberField(*base, "members", 0, kMaxWord, where + ", \"base\"");
    }
    const Json& changes = Field(json, "changes", where);
    if (!changes.is_array())
        Bad(where + ": \"changes\" is not a list");
    manifest.Changes.reserve(changes.size());
    for (std::size_t k = 0; k < changes.size(); ++k)
        manifest.Changes.push_back(ParseChange(changes[k], "change " + std::to_string(k + 1)));
    CheckTogether(manifest.Changes);
    return manifest;
}

ArchiveDiff ModChanges(const ModManifest& manifest) {
    ArchiveDiff diff;
    diff.CountA = static_cast<std::int32_t>(manifest.BaseMembers);
    std::map<MemberKey, std::size_t> listed;
    const auto member = [&](const ModChange& c) -> MemberDiff& {
        const auto [at, fresh] = listed.emplace(c.Member, diff.Members.size());
        if (fresh) {
            MemberDiff m;
            m.Name = c.Member.Name;
            m.Occurrence = c.Member.Copy;
            m.Repeated = c.Member.Repeated;
            m.RowA = m.RowB = 1;
            diff.Members.push_back(std::move(m));
        }
        return diff.Members[at->second];
    };
    for (const ModChange& c : manifest.Changes) {
        switch (c.Kind) {
        case ModChangeKind::Gap:
            diff.GapDiffers = true;
            break;
        case ModChangeKind::Tail:
            diff.TailDiffers = true;
            break;
        case ModChangeKind::Field:
            diff.NameFieldsDiffer = true;
            break;
        case ModChangeKind::Add: {
            MemberDiff m;
            m.Name = c.Member.Name;
            m.RowB = 1;
            diff.Members.push_back(std::move(m));
            break;
        }
        case ModChangeKind::Remove:
            member(c).RowB = 0;
            break;
        case ModChangeKind::Member: {
            MemberDiff& m = member(c);
            m.Changed = true;
            m.Icons = c.Icons;
            break;
        }
        case ModChangeKind::Icon: {
            MemberDiff& m = member(c);
            m.Changed = true;
            if (!m.Icons)
                m.Icons.emplace();
            m.Icons->Changed.push_back({c.Icon, c.Header, c.Data});
            break;
        }
        case ModChangeKind::Move: {
            MemberDiff& m = member(c);
            m.Moved = true;
            m.RowA = std::max(c.RowA, 1);
            m.RowB = std::max(c.RowB, 1);
            break;
        }
        }
    }
    return diff;
}

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

// ---- Icon streams

TIconHeader StoredHeader(const InFile& file, std::int64_t start, std::int32_t icon) {
    unsigned char bytes[IconHeaderSize];
    if (!file.ReadExactlyAt(start + 4 + std::int64_t{IconHeaderSize} * (icon - 1), bytes,
                            sizeof bytes))
        throw EReadError();
    return TIconHeader::FromBytes(bytes);
}

namespace {

std::array<unsigned char, IconHeaderSize> ComparedHeader(const TIconHeader& stored) {
    TIconHeader header = stored;
    header.Starts = 0; // where the data lie follows from the icons before
    std::array<unsigned char, IconHeaderSize> bytes;
    header.ToBytes(bytes.data());
    return bytes;
}

std::int64_t DataOf(std::int64_t start, std::int32_t count, const TIconHeader& stored) {
    return start + 4 + std::int64_t{IconHeaderSize} * count + stored.Starts;
}

} // namespace

IconBytes IconOf(const InFile& file, std::int64_t start, std::int32_t count,
                 const TIconHeader& stored) {
    const auto head = ComparedHeader(stored);
    const std::int64_t data = DataOf(start, count, stored);
    const InFile* source = &file;
    return [head, data, source](std::int64_t from, std::size_t n, unsigned char* into) {
        for (; n > 0 && from < IconHeaderSize; --n)
            *into++ = head[static_cast<std::size_t>(from++)];
        if (n > 0 && !source->ReadExactlyAt(data + from - IconHeaderSize, into, n))
            throw EReadError();
    };
}

ByteSum IconSum(const InFile& file, std::int64_t start, std::int32_t count,
                const TIconHeader& stored) {
    const auto head = ComparedHeader(stored);
    std::uint32_t crc = SumOf(head.data(), head.size()).Crc;
    if (!Crc32Of(file, DataOf(start, count, stored), stored.Bytes, crc))
        throw EReadError();
    return {IconHeaderSize + std::int64_t{stored.Bytes}, crc};
}

namespace {

// The base bytes that piece k of a result is compressed against.
void PieceDictionary(const IconBytes& base, std::int64_t baseSize, std::int64_t piece,
                     std::vector<unsigned char>& dictionary) {
    const std::int64_t from = std::clamp<std::int64_t>((piece - 1) * ModIconPiece, 0, baseSize);
    const std::int64_t to = std::clamp<std::int64_t>((piece + 1) * ModIconPiece, 0, baseSize);
    dictionary.resize(static_cast<std::size_t>(to - from));
    if (to > from)
        base(from, dictionary.size(), dictionary.data());
}

} // namespace

namespace {

using Sink = std::function<void(const unsigned char*, std::size_t)>;

// Each stream of an icon's coding: zlib format at the best compression.
constexpr DeflateOptions kIconStream{ZlibFormat::Zlib, ZlibBestLevel, ZlibDefaultStrategy, 9};

// The icon's new bytes XOR the base bytes at the same place: [from, from + n) of them.
void XorPiece(const IconBytes& base, std::int64_t baseSize, std::int64_t from,
              std::vector<unsigned char>& bytes, std::vector<unsigned char>& was) {
    const auto n =
        static_cast<std::size_t>(std::clamp<std::int64_t>(baseSize - from, 0, std::ssize(bytes)));
    was.resize(n);
    if (n > 0)
        base(from, n, was.data());
    for (std::size_t k = 0; k < n; ++k)
        bytes[k] ^= was[k];
}

// The pieces coding of an icon, or false, with what was written so far, as soon as it passes
// `limit` bytes.
bool Pieces(const IconBytes& base, std::int64_t baseSize, const IconBytes& result,
            std::int64_t resultSize, std::int64_t limit, std::int64_t& written, const Sink& write) {
    std::vector<unsigned char> dictionary, input;
    for (std::int64_t piece = 0; piece * ModIconPiece < resultSize; ++piece) {
        const std::int64_t from = piece * ModIconPiece;
        input.resize(static_cast<std::size_t>(std::min(ModIconPiece, resultSize - from)));
        result(from, input.size(), input.data());
        PieceDictionary(base, baseSize, piece, dictionary);
        Deflater deflater(kIconStream);
        deflater.SetDictionary(dictionary.data(), dictionary.size());
        deflater.Feed(input.data(), input.size(), true,
                      [&](const unsigned char* bytes, std::size_t n) {
                          write(bytes, n);
                          written += static_cast<std::int64_t>(n);
                      });
        if (written > limit)
            return false;
    }
    return true;
}

// Compressed bytes kept while the codings are compared: an icon whose XOR coding passes this
// is coded in pieces straight away.
constexpr std::int64_t kCompareBound = 1 << 20;

} // namespace

CompressedIcon CompressIcon(const IconBytes& base, std::int64_t baseSize, const IconBytes& result,
                            std::int64_t resultSize, const Sink& write) {
    std::vector<unsigned char> xored, input, was;
    const auto keep = [](std::vector<unsigned char>& into) {
        return [&into](const unsigned char* bytes, std::size_t n) {
            if (std::ssize(into) <= kCompareBound)
                into.insert(into.end(), bytes, bytes + n);
        };
    };
    {
        Deflater deflater(kIconStream);
        for (std::int64_t from = 0; from < resultSize && std::ssize(xored) <= kCompareBound;
             from += std::ssize(input)) {
            input.resize(static_cast<std::size_t>(std::min(ModIconPiece, resultSize - from)));
            result(from, input.size(), input.data());
            XorPiece(base, baseSize, from, input, was);
            deflater.Feed(input.data(), input.size(), from + std::ssize(input) == resultSize,
                          keep(xored));
        }
    }
    CompressedIcon made;
    if (std::ssize(xored) > kCompareBound) {
        Pieces(base, baseSize, result, resultSize, std::numeric_limits<std::int64_t>::max(),
               made.Length, write);
        return made;
    }
    std::vector<unsigned char> pieces;
    std::int64_t length = 0;
    if (Pieces(base, baseSize, result, resultSize, std::ssize(xored) - 1, length, keep(pieces))) {
        write(pieces.data(), pieces.size());
        made.Length = length;
        return made;
    }
    write(xored.data(), xored.size());
    made.Length = std::ssize(xored);
    made.Coding = IconCoding::Xor;
    return made;
}

namespace {

// An icon's compressed bytes, `length` of them taken from its entry as inflate asks.
class IconInput {
public:
    IconInput(ZipEntryReader& stream, std::int64_t length) : stream_(stream), left_(length) {}

    // Inflates into `output` whole and, when `end`, to the end of the stream: one byte more
    // than the output holds shows a stream that runs on. A stream asking for a preset
    // dictionary gets `dictionary`, or is refused when there is none.
    void Fill(Inflater& inflater, std::vector<unsigned char>& output, bool end,
              const std::vector<unsigned char>* dictionary, const std::string& piece = {}) {
        std::size_t made = 0; // a byte past the output shows in `made` too
        InflateStatus status = InflateStatus::Ok;
        while (made < output.size() || (end && status != InflateStatus::End)) {
            if (status == InflateStatus::End)
                Bad("an icon's compressed data are damaged");
            if (size_ == 0 && left_ > 0) {
                start_ = 0;
                size_ = static_cast<std::size_t>(std::min<std::int64_t>(left_, std::ssize(in_)));
                stream_.ReadExactly(in_.data(), size_);
                left_ -= static_cast<std::int64_t>(size_);
            }
            unsigned char spare;
            const bool full = made >= output.size();
            unsigned char* to = full ? &spare : output.data() + made;
            const std::size_t room = full ? 1 : output.size() - made;
            Inflater::Step step = inflater.Run(in_.data() + start_, size_, to, room);
            if (step.Status == InflateStatus::NeedDictionary) {
                if (!dictionary || dictionary->empty())
                    Bad(piece.empty() ? std::string("the xor coding's stream asks for a preset "
                                                    "dictionary, which it has none of")
                                      : piece + " asks for a preset dictionary where the base "
                                                "bytes around it are empty");
                if (!inflater.SetDictionary(dictionary->data(), dictionary->size()))
                    Bad(piece + " was compressed against another preset dictionary than these " +
                        "base bytes (pieces count from 0)");
                const Inflater::Step more =
                    inflater.Run(in_.data() + start_ + step.Took, size_ - step.Took, to + step.Made,
                                 room - step.Made);
                step = {step.Took + more.Took, step.Made + more.Made, more.Status};
            }
            status = step.Status;
            start_ += step.Took;
            size_ -= step.Took;
            made += step.Made;
            if (made > output.size() ||
                (status != InflateStatus::Ok && status != InflateStatus::End &&
                 !(status == InflateStatus::Stalled && step.Took > 0)))
                Bad("an icon's compressed data are damaged");
        }
    }
    void Finish() const {
        if (size_ != 0 || left_ != 0)
            Bad("an icon's compressed data do not fill their place");
    }

private:
    ZipEntryReader& stream_;
    std::int64_t left_; // compressed bytes not yet taken from the entry
    std::array<unsigned char, 4096> in_;
    std::size_t start_ = 0, size_ = 0;
};

} // namespace

void ExpandIcon(const IconBytes& base, std::int64_t baseSize, ZipEntryReader& stream,
                std::int64_t length, std::int64_t resultSize, IconCoding coding, const Sink& emit) {
    IconInput input(stream, length);
    std::vector<unsigned char> dictionary, output, was;
    std::optional<Inflater> whole; // the XOR coding's one stream
    if (coding == IconCoding::Xor)
        whole.emplace();
    for (std::int64_t from = 0; from < resultSize; from += ModIconPiece) {
        output.resize(static_cast<std::size_t>(std::min(ModIconPiece, resultSize - from)));
        if (whole) {
            input.Fill(*whole, output, from + std::ssize(output) == resultSize, nullptr);
            XorPiece(base, baseSize, from, output, was);
        } else {
            const std::int64_t piece = from / ModIconPiece;
            PieceDictionary(base, baseSize, piece, dictionary);
            const std::int64_t low = std::clamp<std::int64_t>(from - ModIconPiece, 0, baseSize);
            Inflater inflater;
            input.Fill(inflater, output, true, &dictionary,
                       "piece " + std::to_string(piece) + " (its dictionary: base bytes " +
                           std::to_string(low) + " to " +
                           std::to_string(low + std::ssize(dictionary)) + ")");
        }
        emit(output.data(), output.size());
    }
    input.Finish();
}

} // namespace kiv
