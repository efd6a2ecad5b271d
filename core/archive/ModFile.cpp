#include "archive/ModFile.h"

#include "base/FileStream.h"
#include "base/TextConv.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <set>

namespace kiv {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::int64_t kMaxWord = 0xFFFFFFFFLL;
// Deeper JSON than the manifest's own (an object in an array in an object) is refused while
// it is parsed, so nesting costs nothing.
constexpr int kMaxDepth = 6;

[[noreturn]] void Bad(const std::string& why) {
    throw EBadMod(why);
}

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
    case ModChangeKind::Tail:
        return "tail";
    }
    return "";
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

Json SumJson(const ByteSum& sum) {
    return Json{{"size", sum.Size}, {"crc32", sum.Crc}};
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
    const bool huge = value.is_number_unsigned() &&
                      value.get<std::uint64_t>() > static_cast<std::uint64_t>(high);
    const std::int64_t number = huge ? high + 1 : value.get<std::int64_t>();
    if (number < low || number > high)
        Bad(what + " is out of range");
    return number;
}

std::int64_t NumberField(const Json& object, const char* key, std::int64_t low,
                         std::int64_t high, const std::string& where) {
    return Number(Field(object, key, where), low, high, where + ": \"" + key + "\"");
}

std::string Text(const Json& object, const char* key, const std::string& where,
                 bool required = false) {
    const auto found = object.find(key);
    if (found == object.end()) {
        if (required)
            Bad(where + ": \"" + key + "\" is missing");
        return {};
    }
    if (!found->is_string())
        Bad(where + ": \"" + key + "\" is not a text");
    return found->get<std::string>();
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
    key.Name = NameFromJson(Text(object, "member", where, true), where);
    if (key.Name.size() > 13)
        Bad(where + ": a member name is longer than 13 bytes");
    if (object.contains("copy"))
        key.Copy = static_cast<std::int32_t>(NumberField(object, "copy", 1, 0x7FFFFFFF, where));
    return key;
}

ModChange ParseChange(const Json& json, const std::string& where) {
    if (!json.is_object())
        Bad(where + " is not an object");
    ModChange change;
    const std::string kind = Text(json, "change", where, true);
    static const ModChangeKind kinds[] = {ModChangeKind::Gap,    ModChangeKind::Member,
                                          ModChangeKind::Icon,   ModChangeKind::Add,
                                          ModChangeKind::Remove, ModChangeKind::Tail};
    const auto* found = std::find_if(std::begin(kinds), std::end(kinds),
                                     [&](ModChangeKind k) { return kind == KindName(k); });
    if (found == std::end(kinds))
        Bad(where + ": unknown change \"" + PrintableName(kind) + "\"");
    change.Kind = *found;
    const bool named = change.Kind != ModChangeKind::Gap && change.Kind != ModChangeKind::Tail;
    if (named)
        change.Member = KeyField(json, where);
    if (change.Kind != ModChangeKind::Add)
        change.Base = SumField(json, "base", where);
    if (change.Kind != ModChangeKind::Remove) {
        change.Result = SumField(json, "result", where);
        change.File = Text(json, "file", where, true);
    }
    switch (change.Kind) {
    case ModChangeKind::Icon: {
        change.Icon = static_cast<std::int32_t>(NumberField(json, "icon", 1, 0x7FFFFFFF, where));
        const std::string part = Text(json, "part", where);
        change.Part = part == "header" ? IconPart::Header
                      : part == "pixels" ? IconPart::Pixels
                                         : IconPart::Both;
        change.At = NumberField(json, "at", 0, kMaxWord, where);
        change.Length = NumberField(json, "length", 1, kMaxWord, where);
        if (change.Base.Size < 40 || change.Result.Size < 40)
            Bad(where + ": an icon is at least its 40-byte header");
        break;
    }
    case ModChangeKind::Add: {
        if (change.Member.Name.empty() || change.Member.Name.size() > 12)
            Bad(where + ": an added member's name has 1 to 12 bytes");
        const auto after = json.find("after");
        change.First = after == json.end() || after->is_null();
        if (!change.First) {
            if (!after->is_object())
                Bad(where + ": \"after\" is not an object");
            change.After = KeyField(*after, where + ", \"after\"");
        }
        break;
    }
    case ModChangeKind::Member:
        if (const auto details = json.find("details"); details != json.end()) {
            if (!details->is_array())
                Bad(where + ": \"details\" is not a list");
            for (const Json& line : *details) {
                if (!line.is_string())
                    Bad(where + ": \"details\" holds something other than text");
                change.Details.push_back(line.get<std::string>());
            }
        }
        break;
    default:
        break;
    }
    return change;
}

// One change per member (or per icon of it), gap and tail once, a member's icons in order
// with their streams one after another in one entry.
void CheckTogether(const std::vector<ModChange>& changes) {
    bool gap = false, tail = false;
    std::map<MemberKey, const ModChange*> whole;
    std::map<MemberKey, const ModChange*> lastIcon;
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
            if (whole.count(c.Member) || lastIcon.count(c.Member))
                Bad(where + " changes member " + MemberLabel(c.Member) + " a second time");
            whole[c.Member] = &c;
            break;
        case ModChangeKind::Icon: {
            if (whole.count(c.Member))
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
        case ModChangeKind::Add:
            break;
        }
    }
}

} // namespace

ByteSum SumOf(const void* data, std::size_t count) {
    return {static_cast<std::int64_t>(count),
            static_cast<std::uint32_t>(
                crc32_z(crc32_z(0, nullptr, 0), static_cast<const Bytef*>(data), count))};
}

std::string MemberLabel(const MemberKey& key) {
    const std::string name = PrintableName(key.Name);
    return key.Copy > 1 ? name + " (copy " + std::to_string(key.Copy) + ")" : name;
}

const char* IconPartName(IconPart part) {
    switch (part) {
    case IconPart::Header:
        return "header";
    case IconPart::Pixels:
        return "pixels";
    case IconPart::Both:
        return "both";
    }
    return "";
}

std::string ManifestJson(const ModManifest& manifest) {
    Json changes = Json::array();
    for (const ModChange& c : manifest.Changes) {
        Json j{{"change", KindName(c.Kind)}};
        const auto key = [](Json& into, const MemberKey& member) {
            into["member"] = NameToJson(member.Name);
            if (member.Copy > 1)
                into["copy"] = member.Copy;
        };
        if (c.Kind != ModChangeKind::Gap && c.Kind != ModChangeKind::Tail)
            key(j, c.Member);
        if (c.Kind == ModChangeKind::Icon) {
            j["icon"] = c.Icon;
            j["part"] = IconPartName(c.Part);
        }
        if (c.Kind == ModChangeKind::Add && !c.First) {
            Json after = Json::object();
            key(after, c.After);
            j["after"] = after;
        }
        if (c.Kind != ModChangeKind::Add)
            j["base"] = SumJson(c.Base);
        if (c.Kind != ModChangeKind::Remove) {
            j["result"] = SumJson(c.Result);
            j["file"] = c.File;
        }
        if (c.Kind == ModChangeKind::Icon) {
            j["at"] = c.At;
            j["length"] = c.Length;
        }
        if (c.Kind == ModChangeKind::Member && !c.Details.empty())
            j["details"] = c.Details;
        changes.push_back(std::move(j));
    }
    const Json json{{"format", "kivmod"},
                    {"version", manifest.Version},
                    {"title", manifest.Title},
                    {"author", manifest.Author},
                    {"note", manifest.Note},
                    {"base", {{"size", manifest.BaseSize}, {"members", manifest.BaseMembers}}},
                    {"changes", changes}};
    // Text that is not UTF-8 (a title typed in another encoding) is mended, not refused.
    return json.dump(1, ' ', false, Json::error_handler_t::replace) + "\n";
}

ModManifest ParseManifest(const std::string& text) {
    Json json;
    try {
        json = Json::parse(text, [](int depth, Json::parse_event_t, Json&) {
            if (depth > kMaxDepth)
                Bad("the manifest is nested deeper than a manifest is");
            return true;
        });
    } catch (const Json::exception& e) {
        Bad(std::string("the manifest is not valid JSON (") + e.what() + ")");
    }
    const std::string where = "the manifest";
    if (!json.is_object())
        Bad(where + " is not a JSON object");
    if (Text(json, "format", where, true) != "kivmod")
        Bad(where + " is not a mod's");
    ModManifest manifest;
    manifest.Version = static_cast<int>(NumberField(json, "version", 1, 1000000, where));
    if (manifest.Version > ModFormatVersion)
        Bad("the mod has format version " + std::to_string(manifest.Version) +
            "; this kivtool reads version " + std::to_string(ModFormatVersion) +
            ": a newer kivtool made it");
    manifest.Title = Text(json, "title", where);
    manifest.Author = Text(json, "author", where);
    manifest.Note = Text(json, "note", where);
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

ModReader::ModReader(const std::string& path) : path_(path) {
    file_ = InFile::Open(path);
    if (!file_)
        throw EFOpenError(path);
    const std::string self = PrintableName(path);
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
            if (c.Kind == ModChangeKind::Remove)
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

std::int64_t CompressIcon(const IconBytes& base, std::int64_t baseSize, const IconBytes& result,
                          std::int64_t resultSize,
                          const std::function<void(const unsigned char*, std::size_t)>& write) {
    std::vector<unsigned char> dictionary, input, output;
    std::int64_t written = 0;
    for (std::int64_t piece = 0; piece * ModIconPiece < resultSize; ++piece) {
        const std::int64_t from = piece * ModIconPiece;
        input.resize(static_cast<std::size_t>(std::min(ModIconPiece, resultSize - from)));
        result(from, input.size(), input.data());
        PieceDictionary(base, baseSize, piece, dictionary);

        z_stream zs{};
        if (deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, MAX_WBITS, 9, Z_DEFAULT_STRATEGY) !=
            Z_OK)
            throw std::bad_alloc();
        if (!dictionary.empty())
            deflateSetDictionary(&zs, dictionary.data(), static_cast<uInt>(dictionary.size()));
        output.resize(deflateBound(&zs, static_cast<uLong>(input.size())));
        zs.next_in = input.data();
        zs.avail_in = static_cast<uInt>(input.size());
        zs.next_out = output.data();
        zs.avail_out = static_cast<uInt>(output.size());
        const int status = deflate(&zs, Z_FINISH);
        const std::size_t made = output.size() - zs.avail_out;
        deflateEnd(&zs);
        if (status != Z_STREAM_END)
            throw EWriteError("The compressor failed");
        write(output.data(), made);
        written += static_cast<std::int64_t>(made);
    }
    return written;
}

void ExpandIcon(const IconBytes& base, std::int64_t baseSize, ZipEntryReader& stream,
                std::int64_t length, std::int64_t resultSize,
                const std::function<void(const unsigned char*, std::size_t)>& emit) {
    std::vector<unsigned char> dictionary, input(4096), output;
    std::size_t inStart = 0, inSize = 0;
    std::int64_t left = length; // compressed bytes not yet taken from the entry
    const auto damaged = [] { Bad("an icon's compressed data are damaged"); };
    for (std::int64_t piece = 0; piece * ModIconPiece < resultSize; ++piece) {
        const std::int64_t from = piece * ModIconPiece;
        output.resize(static_cast<std::size_t>(std::min(ModIconPiece, resultSize - from)));
        PieceDictionary(base, baseSize, piece, dictionary);

        z_stream zs{};
        if (inflateInit(&zs) != Z_OK)
            throw std::bad_alloc();
        zs.next_out = output.data();
        zs.avail_out = static_cast<uInt>(output.size());
        int status = Z_OK;
        while (status != Z_STREAM_END) {
            if (inSize == 0 && left > 0) {
                inStart = 0;
                inSize = static_cast<std::size_t>(std::min<std::int64_t>(left, std::ssize(input)));
                stream.ReadExactly(input.data(), inSize);
                left -= static_cast<std::int64_t>(inSize);
            }
            zs.next_in = input.data() + inStart;
            zs.avail_in = static_cast<uInt>(inSize);
            // One byte more than the piece may hold shows a stream that runs on.
            unsigned char spare;
            if (zs.avail_out == 0) {
                zs.next_out = &spare;
                zs.avail_out = 1;
            }
            status = inflate(&zs, Z_NO_FLUSH);
            if (status == Z_NEED_DICT) {
                if (dictionary.empty() ||
                    inflateSetDictionary(&zs, dictionary.data(),
                                         static_cast<uInt>(dictionary.size())) != Z_OK) {
                    inflateEnd(&zs);
                    Bad("an icon was made against other base bytes than this archive's");
                }
                status = inflate(&zs, Z_NO_FLUSH);
            }
            const std::size_t took = inSize - zs.avail_in;
            inStart += took;
            inSize -= took;
            const bool overran = zs.next_out == &spare + 1;
            if (overran || (status != Z_OK && status != Z_STREAM_END &&
                            !(status == Z_BUF_ERROR && took > 0))) {
                inflateEnd(&zs);
                damaged();
            }
        }
        const bool full = zs.total_out == output.size();
        inflateEnd(&zs);
        if (!full)
            damaged();
        emit(output.data(), output.size());
    }
    if (inSize != 0 || left != 0)
        Bad("an icon's compressed data do not fill their place");
}

} // namespace kiv
