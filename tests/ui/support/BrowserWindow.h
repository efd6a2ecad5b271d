#pragma once
// The browser window as its tests drive it, and the archive most of them load.

#include "KivUt1.h"
#include "support/ScriptedDialogs.h"
#include "support/TestFiles.h"

#include "archive/ArchiveDirectory.h"

#include <QString>
#include <optional>
#include <string>

namespace kivuitest {

using kivtest::ArchiveBuilder;
using kivtest::Bytes;
using kivtest::SpriteBuilder;

// One browser window on a fresh module state, inside its own scratch folder.
struct Browser {
    kivtest::ScratchDir dir;
    ScriptedDialogs dialogs;
    TMainForm form;

    Browser() { KivUt1::ResetModuleState(); }
    ~Browser() { KivUt1::ResetModuleState(); }

    void Load(const QString& path) {
        dialogs.Choose(path);
        form.LoadDataFile1->trigger();
    }
    void LoadArchive(const std::string& name, const ArchiveBuilder& archive) {
        kivtest::WriteFile(name, archive.Build());
        Load(QString::fromStdString(name));
    }
    // A click on the cell: the grid raises its select-cell event, bound to the handler.
    static void Click(TStringGrid* grid, int col, int row) {
        if (grid->Col() == col && grid->Row() == row) {
            bool canSelect = true;
            grid->OnSelectCell(grid, col, row, canSelect);
        } else {
            grid->SelectCell(col, row);
        }
    }
    void SelectMember(int row, int col = 0) { Click(form.InfoGrid, col, row); }
    void Preview(int icon) { Click(form.HeaderGrid, icon, 1); }
    QString Header(int icon, int row) const { return form.HeaderGrid->Cells(icon, row); }
    const kiv::Image& Picture() const { return form.IconImage->Picture(); }
};

inline QString Hex(std::uint32_t offset) {
    return QString::fromStdString(kiv::OffsetText(offset));
}

// Three members: a raw and a run-length icon, a member with no icons (or `middle`), two
// icons again.
inline ArchiveBuilder ThreeMembers(const Bytes& middle = SpriteBuilder().Build(),
                                   std::optional<Bytes> last = std::nullopt) {
    ArchiveBuilder archive;
    archive.Member("a.s16", SpriteBuilder()
                                .Raw(2, 2, 1, 0, 4, 3, {0x1234, 0xABCD, 0x0001, 0xFFFF}, 255)
                                .Runs(2, 2, 0, 0, 2, 2, {{3, 0xF800}, {1, 0x07E0}}, 0x12345678)
                                .Build());
    archive.Member("empty.s16", middle);
    archive.Member(
        "c.s16",
        last.value_or(
            SpriteBuilder().Raw(1, 1, 0, 0, 1, 1, {1}).Raw(1, 1, 0, 0, 1, 1, {2}).Build()));
    return archive;
}

} // namespace kivuitest
