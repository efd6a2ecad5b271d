#include "mod/ModManifest.h"

#include "mod/IconCoding.h"

#include "base/TextConv.h"
#include "sprite/S16Format.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>

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
    if (!KindNamed(kind, change.Kind))
        Bad(where + ": unknown change \"" + PrintableName(kind) + "\"");
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
            if (!IconCodingNamed(Text(*coding, where), change.Coding))
                Bad(where + ": unknown \"coding\"");
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

} // namespace

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
            if (const char* coding = IconCodingName(c.Coding))
                j["coding"] = coding;
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
    CheckChanges(manifest.Changes);
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

} // namespace kiv
