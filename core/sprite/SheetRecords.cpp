#include "sprite/SheetRecords.h"

#include "base/FileStream.h"
#include "base/TextConv.h"
#include "image/Bitmap.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <memory>

namespace kiv {

namespace {

using nlohmann::json;

// Records of 1000 icons take well under this; a larger file is not one of ours.
constexpr std::int64_t kMaxRecordsBytes = 4 << 20;

const char* const kCellKeys[] = {"icon", "x", "y", "width", "height"};

json Words(const TIconHeader& header) {
    json words = json::array();
    for (int j = 1; j <= 10; ++j)
        words.push_back(header.Word(j));
    return words;
}

// Written in this order, so a record reads as "icon N at x, y, w x h, header".
nlohmann::ordered_json Record(const SheetCell& cell, const TIconHeader& header) {
    return {{"icon", cell.Icon},   {"x", cell.X},           {"y", cell.Y},
            {"width", cell.Width}, {"height", cell.Height}, {"header", Words(header)}};
}

bool IsInt(const json& records, const char* key) {
    return records.contains(key) && records[key].is_number_integer();
}

// Why the parsed text is not records as export writes them, or "" when it is.
std::string FormFault(const json& records) {
    if (records.is_discarded())
        return "it is not JSON";
    if (!records.is_object() || !IsInt(records, "width") || !IsInt(records, "height") ||
        !records.contains("icons") || !records["icons"].is_array())
        return "it has no sheet size and list of icons";
    if (records.contains("transparent") && !records["transparent"].is_boolean())
        return "its transparency flag is not true or false";
    if (records.contains("labels") && !records["labels"].is_boolean())
        return "its labels flag is not true or false";
    const json& icons = records["icons"];
    for (std::size_t k = 0; k < icons.size(); ++k) {
        const json& record = icons[k];
        bool whole = record.is_object() && record.contains("header") &&
                     record["header"].is_array() && record["header"].size() == 10;
        for (const char* key : kCellKeys)
            whole = whole && IsInt(record, key);
        if (whole)
            for (const json& word : record["header"])
                whole = whole && word.is_number_integer();
        if (!whole)
            return "record " + std::to_string(k + 1) + " is not a whole icon record";
    }
    return "";
}

// The cells as well-formed `records` give them, into check.Layout, kept (check.Whole) only
// when there is one for each of the table's icons, in order, and every one lies inside a
// sheet of a size a picture may have.
void ReadRecordedCells(const json& records, const TIconTable& table, RecordsCheck& check) {
    const json& icons = records["icons"];
    const std::int64_t width = records["width"].get<std::int64_t>();
    const std::int64_t height = records["height"].get<std::int64_t>();
    check.Whole = icons.size() == static_cast<std::size_t>(std::max(table.Count, 0)) && width > 0 &&
                  height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
                  width * height <= kMaxPicturePixels;
    for (std::size_t k = 0; k < icons.size() && check.Whole; ++k) {
        std::int64_t v[std::size(kCellKeys)];
        for (std::size_t j = 0; j < std::size(kCellKeys); ++j)
            v[j] = icons[k][kCellKeys[j]].get<std::int64_t>();
        check.Whole = v[0] == static_cast<std::int64_t>(k) + 1;
        for (std::size_t j = 1; j < std::size(kCellKeys); ++j)
            check.Whole = check.Whole && v[j] >= 0 && v[j] <= kMaxPictureSide;
        check.Whole = check.Whole && v[1] + v[3] <= width && v[2] + v[4] <= height;
        if (check.Whole)
            check.Layout.Cells.push_back({static_cast<int>(v[0]), static_cast<int>(v[1]),
                                          static_cast<int>(v[2]), static_cast<int>(v[3]),
                                          static_cast<int>(v[4])});
    }
    if (check.Whole) {
        check.Layout.Width = static_cast<int>(width);
        check.Layout.Height = static_cast<int>(height);
        check.Layout.Labels = records.value("labels", false);
    } else {
        check.Layout = {};
    }
}

} // namespace

std::string SheetRecordsPath(const std::string& sheetPath) {
    return std::filesystem::path(sheetPath).replace_extension(".json").string();
}

std::string SheetRecordsText(const std::string& spriteName, const SheetLayout& layout,
                             const TIconTable& table, bool transparent) {
    std::string text = "{\"sprite\": " + json(spriteName).dump() +
                       ", \"width\": " + std::to_string(layout.Width) +
                       ", \"height\": " + std::to_string(layout.Height) +
                       ", \"transparent\": " + (transparent ? "true" : "false") +
                       (layout.Labels ? ", \"labels\": true" : "") + ", \"icons\": [\n";
    for (std::size_t k = 0; k < layout.Cells.size(); ++k) {
        const SheetCell& cell = layout.Cells[k];
        text += "  " + Record(cell, table.Headers[static_cast<std::size_t>(cell.Icon - 1)]).dump();
        text += k + 1 < layout.Cells.size() ? ",\n" : "\n";
    }
    return text + "]}\n";
}

RecordsCheck CheckSheetRecords(const std::string& path, const TIconTable& table) {
    RecordsCheck check;
    const std::unique_ptr<InFile> file = InFile::Open(path);
    if (!file) {
        check.Message = "Cannot open file " + path + ": the sheet's records are needed beside it.";
        return check;
    }
    check.Verdict = RecordsVerdict::Unreadable;
    const auto unreadable = [&](const std::string& why) {
        check.Message = path + " cannot be read as a sheet's records: " + why + ".";
        return check;
    };
    if (file->Length() > kMaxRecordsBytes)
        return unreadable("it is too large");
    std::string text(static_cast<std::size_t>(file->Length()), '\0');
    text.resize(file->Read(text.data(), text.size()));
    // An object, its list of icons, a record, its header words.
    if (JsonNestedDeeperThan(text, 8))
        return unreadable("it is nested too deeply");
    const json records = json::parse(text, nullptr, false);
    if (const std::string fault = FormFault(records); !fault.empty())
        return unreadable(fault);

    check.Verdict = RecordsVerdict::OtherSheet;
    check.Transparent = records.value("transparent", false);
    if (records.contains("sprite") && records["sprite"].is_string())
        check.Sprite = records["sprite"].get<std::string>();
    ReadRecordedCells(records, table, check);
    const json& icons = records["icons"];
    const std::int64_t width = records["width"].get<std::int64_t>();
    const std::int64_t height = records["height"].get<std::int64_t>();

    const std::string name = std::filesystem::path(table.Path).filename().string();
    const SheetLayout layout = LayOutSheet(table, records.value("labels", false));
    if (width != layout.Width || height != layout.Height || icons.size() != layout.Cells.size()) {
        std::string of = "another sprite file";
        if (!check.Sprite.empty() && check.Sprite != name)
            of = check.Sprite + ", not of " + name;
        check.Message = path + " describes a sheet of " + of + ".";
        return check;
    }
    for (std::size_t k = 0; k < layout.Cells.size(); ++k) {
        const SheetCell& cell = layout.Cells[k];
        const json& record = icons[k];
        bool same =
            record["header"] == Words(table.Headers[static_cast<std::size_t>(cell.Icon - 1)]);
        const int values[] = {cell.Icon, cell.X, cell.Y, cell.Width, cell.Height};
        for (std::size_t v = 0; v < std::size(kCellKeys); ++v)
            same = same && record[kCellKeys[v]] == values[v];
        if (!same) {
            check.DiffersAt = cell.Icon;
            check.Message = path + ": the record of icon " + std::to_string(cell.Icon) +
                            " does not match the sprite file.";
            return check;
        }
    }
    check.Verdict = RecordsVerdict::Match;
    check.Message.clear();
    check.Layout = layout;
    return check;
}

} // namespace kiv
