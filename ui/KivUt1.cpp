#include "KivUt1.h"

#include "AnimFm.h"
#include "S16Ed.h"

#include "archive/ArchiveDiff.h"
#include "archive/ArchiveDirectory.h"
#include "archive/ArchiveOps.h"
#include "archive/MemberSummary.h"
#include "base/Errors.h"
#include "base/FileStream.h"
#include "base/TextConv.h"
#include "mod/ModApply.h"
#include "sprite/IconDecoder.h"
#include "sprite/S16Format.h"
#include "vcl/Application.h"

#include <QFile>
#include <algorithm>
#include <vector>

TMainForm* MainForm = nullptr;

namespace KivUt1 {
std::string DataFileName = "Modgen.dat";
std::int32_t MemberCount = 0;
std::int32_t SelectedRow = 0;
std::int32_t MemberIconCount = 0;
std::int32_t PixelBase = 0;
bool FirstActivation = true;

namespace {
// PixelBase as a true file offset: start + 4 + 40 * count can pass the 32-bit range when
// the count word is damaged, and the preview must then read nothing rather than wrap
// around into real data.
std::int64_t PixelBaseOffset = 0;

// Set while a handler changes a grid's size. A shrinking grid moves its current cell and
// reports the move as a selection; what the cells then hold belongs to the member or the
// archive shown before, so that selection only records the row and reads nothing.
bool QuietSelection = false;

struct QuietScope {
    bool saved = QuietSelection;
    QuietScope() { QuietSelection = true; }
    ~QuietScope() { QuietSelection = saved; }
    QuietScope(const QuietScope&) = delete;
    QuietScope& operator=(const QuietScope&) = delete;
};
} // namespace

void ResetModuleState() {
    DataFileName = "Modgen.dat";
    MemberCount = 0;
    SelectedRow = 0;
    MemberIconCount = 0;
    PixelBase = 0;
    PixelBaseOffset = 0;
    FirstActivation = true;
    QuietSelection = false;
}
} // namespace KivUt1

using namespace KivUt1;

namespace {

// Member names are bytes of the game's 8-bit character set. Latin-1 maps every byte to one
// character and back, so the name read from a cell names the same file again.
QString NameText(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}
std::string NameBytes(const QString& text) {
    return text.toLatin1().toStdString();
}

// Messages from core mix member names (8-bit) with paths (UTF-8 here); a control character
// in a name would break the box's text apart.
QString MessageText(const std::string& text) {
    const std::string shown = kiv::PrintableName(text);
    const QString utf8 = QString::fromStdString(shown);
    return utf8.contains(QChar::ReplacementCharacter) ? NameText(shown) : utf8;
}

std::string CellBytes(const TStringGrid& grid, int col, int row) {
    return grid.Cells(col, row).toStdString();
}

// A cell parsed as the framework's integer: a text that is no number raises the
// conversion error with the text quoted.
std::int32_t CellInt(const TStringGrid& grid, int col, int row) {
    return kiv::StrToInt(CellBytes(grid, col, row));
}

// The listing row as its cells read. A row the grid no longer has reads as empty cells
// (a later listing may be shorter than the row selected before it).
kiv::ArchiveRow ListingRow(const TStringGrid& grid, int row) {
    if (row < 0 || row >= grid.RowCount())
        return {};
    return {NameBytes(grid.Cells(0, row)), CellBytes(grid, 1, row), CellBytes(grid, 2, row)};
}

// Reads the directory of DataFileName into InfoGrid and GridLbl and clears the member panel.
// False when the archive does not open; nothing changes then.
bool ListDirectory(TMainForm& form) {
    const kiv::ArchiveListing listing = kiv::ListArchive(DataFileName);
    if (!listing.Opened)
        return false;

    // MemberCount is what was listed, so Test and Replace never walk rows that do not
    // exist. The label shows the count word as stored, also for a directory cut short by
    // the end of the file, as kivtool's list does.
    const auto listed = static_cast<std::int32_t>(listing.Entries.size());
    MemberCount = listed;
    form.GridLbl->SetCaption(QString::number(listing.StoredCount) + QStringLiteral(" Files"));

    TStringGrid& grid = *form.InfoGrid;
    {
        QuietScope quiet;
        grid.SetRowCount(listed + 1);
    }
    grid.SetCells(0, 0, QStringLiteral("File Name"));
    grid.SetCells(1, 0, QStringLiteral("Start"));
    grid.SetCells(2, 0, QStringLiteral("Finish"));
    int row = 1;
    for (const kiv::TArchiveEntry& entry : listing.Entries) {
        grid.SetCells(0, row, NameText(entry.Name));
        grid.SetCells(1, row, QString::fromLatin1(kiv::OffsetText(entry.Start)));
        grid.SetCells(2, row, QString::fromLatin1(kiv::OffsetText(entry.Finish)));
        ++row;
    }
    // Whatever member was shown belongs to the archive listed before.
    form.ClearMemberPanel();
    return true;
}

// After the check of a rebuild from `archive` over an existing `outPath`: true when the rebuild
// drops nothing there, or the user says it may.
bool MayDropChanges(const kiv::ArchiveRebuildReport& report, const std::string& archive,
                    const std::string& outPath, const QString& action) {
    const QString output = MessageText(outPath);
    if (!report.BaseReadable) {
        // A damaged archive still lists and rebuilds, but nothing can be compared with it.
        return !kiv::IsRegularFile(archive) ||
               AskYesNoBox(QStringLiteral("%1 exists, and %2 cannot be compared with it. Replace "
                                          "%1 anyway?")
                               .arg(output, MessageText(archive)));
    }
    if (report.NothingDropped() && report.Replaced.empty())
        return true;
    QStringList changes;
    for (const std::string& name : report.Dropped)
        changes << MessageText(name);
    if (report.OutsideDiffers)
        changes << QStringLiteral("bytes outside its members");
    if (!report.Readable || report.Replaced.empty())
        return AskToDropChanges(output, report.Readable ? ListedNames(changes) : QString(),
                                QStringLiteral("archive"), action);

    // Its own changes where the rebuild writes other bytes, by the file whose change wins:
    // "its change to hero.s16 icon 3 would be replaced by red.kivmod's".
    QStringList by;
    std::vector<QStringList> what;
    for (const auto& [changed, file] : report.Replaced) {
        const QString name = MessageText(file);
        qsizetype k = by.indexOf(name);
        if (k < 0) {
            k = by.size();
            by << name;
            what.emplace_back();
        }
        what[static_cast<std::size_t>(k)] << MessageText(changed);
    }
    QStringList groups;
    for (qsizetype k = 0; k < by.size(); ++k) {
        const QStringList& items = what[static_cast<std::size_t>(k)];
        groups << QStringLiteral("%1 to %2 %3%4's")
                      .arg(k == 0 ? (items.size() == 1 ? QStringLiteral("its change")
                                                       : QStringLiteral("its changes"))
                                  : QString(),
                           ListedNames(items),
                           k == 0 ? QStringLiteral("would be replaced by ") : QStringLiteral("by "),
                           by[k])
                      .trimmed();
    }
    const QString replaced = groups.join(QStringLiteral(", "));
    const QString anyway = QStringLiteral(" Replace %1 anyway?").arg(output);
    if (changes.isEmpty())
        return AskYesNoBox(
            QStringLiteral("%1 holds changes of its own: %2.").arg(output, replaced) + anyway);
    return AskYesNoBox(
        QStringLiteral("%1 also holds changes to %2 that this %3 would drop, and %4.")
            .arg(output, ListedNames(changes), action, replaced) +
        anyway);
}

// Replace writes its output from the current archive. An output it would not rebuild in place
// may hold changes of its own (an earlier Replace of another member): unless the user says
// so, those are kept and nothing is written. A Replace that cannot go ahead asks nothing; it
// says why itself.
bool MayReplaceOutput(const kiv::ReplaceRequest& request) {
    if (request.RowIndex < 1 || !kiv::IsRegularFile(request.OutPath) ||
        kiv::SameFile(request.OutPath, request.ArchivePath) ||
        !kiv::UnsafeNameReason(request.Row.Name).empty())
        return true;
    const std::string twin = kiv::TwinName(request.Row.Name);
    if (!kiv::IsRegularFile(twin))
        return true;
    kiv::ArchiveRebuildReport report;
    {
        HourGlassCursor hourglass;
        report = kiv::ArchiveRebuildCheck(request.ArchivePath, request.OutPath,
                                          {{request.RowIndex, 0, 0, twin, 0}});
    }
    return MayDropChanges(report, request.ArchivePath, request.OutPath, QStringLiteral("Replace"));
}

void ShowCoreMessage(const kiv::OpResult& result) {
    if (!result.Ok)
        ShowMessageBox(MessageText(kiv::WithFault(result.Message, result.Fault)));
}

} // namespace

void TMainForm::ClearMemberPanel() {
    QuietScope quiet;
    SelectedRow = 0;
    MemberIconCount = 0;
    PixelBase = 0;
    PixelBaseOffset = 0;
    InfoGrid->ResetCurrentCell();
    FileLbl->SetCaption(QStringLiteral("File:"));
    IconsNumberLbl->SetCaption(QStringLiteral("Icons:"));
    HeaderGrid->SetColCount(1); // drops every icon column's cells
    for (int row = 0; row < HeaderGrid->RowCount(); ++row)
        HeaderGrid->SetCells(0, row, QString());
    LayOutHeaderGrid();
    IconImage->SetPicture(kiv::Image());
}

void TMainForm::FormActivate(QObject*) {
    if (!FirstActivation)
        return;
    // Cleared before the open: a first listing that fails is not tried again.
    FirstActivation = false;
    ListDirectory(*this);
}

void TMainForm::LoadDataFile1Click(QObject*) {
    OpenDialog1->Filter = QStringLiteral("Data (*.dat)|*.dat|All files (*.*)|*.*");
    if (!OpenDialog1->Execute())
        return;
    LoadDataFile(OpenDialog1->FileName);
}

void TMainForm::LoadDataFile(const QString& path) {
    // The chosen path is kept whole: a cut path would name another file.
    DataFileName = QFile::encodeName(path).toStdString();
    if (!ListDirectory(*this))
        ShowMessageBox(QString::fromLatin1(kiv::MainDataFileNotFound));
}

void TMainForm::InfoGridSelectCell(QObject*, int, int ARow, bool&) {
    SelectedRow = ARow;
    if (QuietSelection)
        return;

    FileLbl->SetCaption(QStringLiteral("File: ") + InfoGrid->Cells(0, ARow));
    // Offsets are unsigned 32-bit positions; "$FFFFFFFF" parses as -1.
    const auto start =
        static_cast<std::uint32_t>(kiv::StrToInt("$" + CellBytes(*InfoGrid, 1, ARow)));

    const kiv::MemberSummary summary = kiv::SummariseMember(DataFileName, start);
    if (!summary.Opened) {
        ShowMessageBox(QString::fromLatin1(kiv::MainDataFileNotFound));
        return;
    }
    // A count word beyond the end of the archive: the member shows no icons.
    const std::int32_t count = summary.MemberIconCount;
    MemberIconCount = count;
    IconsNumberLbl->SetCaption(QStringLiteral("Icons: ") + QString::number(count));

    // Only the headers the archive holds after the count word get a column.
    const int columns = static_cast<int>(summary.Headers.size());
    {
        QuietScope quiet;
        HeaderGrid->SetColCount(columns + 1);
    }
    // Widths scaled like the rest of the layout.
    HeaderGrid->SetColWidths(0, Scaled(80));
    for (int k = 1; k < HeaderGrid->ColCount(); ++k) {
        HeaderGrid->SetColWidths(k, Scaled(60));
        HeaderGrid->SetCells(k, 0, QStringLiteral(" ") + QString::number(k));
    }
    for (int row = kiv::HeaderRow::Width; row <= kiv::HeaderRow::PixCount; ++row)
        HeaderGrid->SetCells(0, row, QString::fromLatin1(kiv::HeaderRowLabel(row)));

    for (int k = 1; k <= columns; ++k)
        for (int row = kiv::HeaderRow::Width; row <= kiv::HeaderRow::Aux; ++row)
            HeaderGrid->SetCells(k, row,
                                 QString::fromStdString(kiv::HeaderCellText(
                                     summary.Headers[static_cast<std::size_t>(k - 1)], row)));

    if (count > 0) {
        PixelBaseOffset = summary.PixelBase;
        PixelBase = static_cast<std::int32_t>(static_cast<std::uint32_t>(PixelBaseOffset));
    }

    // The pixel counts stop at the first "Error" Bytes cell, which the grid cannot parse
    // back: the handler ends there with the conversion error.
    for (std::size_t k = 0; k < summary.PixCount.size(); ++k)
        HeaderGrid->SetCells(static_cast<int>(k) + 1, kiv::HeaderRow::PixCount,
                             QString::number(summary.PixCount[k]));
    if (!summary.ConversionError.empty())
        throw kiv::EConvertError(summary.ConversionError);
}

void TMainForm::HeaderGridSelectCell(QObject*, int ACol, int, bool&) {
    if (QuietSelection || ACol < 0 || ACol >= HeaderGrid->ColCount())
        return;

    // Every parameter comes from the column's texts; Bytes, Aux and the pixel count are
    // not needed.
    kiv::TIconHeader header;
    using namespace kiv::HeaderRow;
    header.FHeight = CellInt(*HeaderGrid, ACol, FHeight);
    header.FWidth = CellInt(*HeaderGrid, ACol, FWidth);
    header.StartX = CellInt(*HeaderGrid, ACol, StartX);
    header.StartY = CellInt(*HeaderGrid, ACol, StartY);
    header.Width = CellInt(*HeaderGrid, ACol, Width);
    header.Height = CellInt(*HeaderGrid, ACol, Height);
    header.Starts = CellInt(*HeaderGrid, ACol, Starts);

    auto archive = kiv::InFile::Open(DataFileName);
    if (!archive) {
        ShowMessageBox(QString::fromLatin1(kiv::MainDataFileNotFound));
        return;
    }
    header.Compress = CellInt(*HeaderGrid, ACol, Compress);
    kiv::Image frame = kiv::PreviewIcon(*archive, PixelBaseOffset, header);
    archive.reset();

    IconImage->SetPicture(std::move(frame));
    IconImage->Repaint();
}

void TMainForm::ExtractBtnClick(QObject*) {
    kiv::OpResult result;
    {
        // Every write may wait for another writer of the same file.
        HourGlassCursor hourglass;
        result = kiv::ExtractMember(DataFileName, ListingRow(*InfoGrid, SelectedRow), {},
                                    SelectedRow, MemberCount);
    }
    ShowCoreMessage(result);
}

void TMainForm::TestBtnClick(QObject*) {
    const int rows = std::clamp(MemberCount, 0, InfoGrid->RowCount() - 1);
    std::vector<kiv::ArchiveRow> listing;
    listing.reserve(static_cast<std::size_t>(rows));
    for (int row = 1; row <= rows; ++row)
        listing.push_back(ListingRow(*InfoGrid, row));
    // Each bad member gets its box as soon as it is found, so the boxes already shown stand
    // when a later row fails to parse.
    kiv::TestArchive(DataFileName, listing, MemberCount,
                     [](const std::string& message) { ShowMessageBox(MessageText(message)); });
}

void TMainForm::ReplaceBtnClick(QObject*) {
    kiv::ReplaceRequest request;
    request.ArchivePath = DataFileName;
    request.Row = ListingRow(*InfoGrid, SelectedRow);
    request.RowIndex = SelectedRow;
    request.MemberCount = MemberCount;
    if (!MayReplaceOutput(request))
        return;
    kiv::OpResult result;
    {
        HourGlassCursor hourglass;
        result = kiv::ReplaceMember(request);
    }
    ShowCoreMessage(result);
    // A rebuilt current archive has new offsets: the listing must show them before the
    // next Extract, Replace or Test takes them from the grid. The member just replaced is
    // selected again, so the header grid shows its new bytes and the buttons act on it.
    if (!result.Ok || !kiv::SameFile(request.OutPath, DataFileName) || !ListDirectory(*this))
        return;
    const int row = request.RowIndex;
    if (row >= 1 && row <= MemberCount && ListingRow(*InfoGrid, row).Name == request.Row.Name)
        InfoGrid->SelectCell(0, row);
}

void TMainForm::ApplyMod1Click(QObject*) {
    TOpenDialog dialog;
    dialog.Filter = QStringLiteral("Mods (*.kivmod)|*.kivmod|All files (*.*)|*.*");
    dialog.AllowMultiSelect = true;
    if (!dialog.Execute())
        return;
    std::vector<std::string> mods;
    for (const QString& file : dialog.Files)
        mods.push_back(QFile::encodeName(file).toStdString());
    const std::string out = "Newgen.dat";
    kiv::ModPlan plan;
    {
        HourGlassCursor hourglass;
        plan = kiv::PlanMods(DataFileName, mods);
    }
    // Mods that meet, and nothing else in the way: the user chooses as kivtool's options
    // would, in one question; Cancel, the default, writes nothing.
    if (plan.Result.Ok && plan.Refusals.empty() && !plan.Conflicts.empty()) {
        QStringList conflicts;
        for (const std::string& line : plan.Conflicts)
            conflicts << MessageText(line);
        const int choice = AskChoiceBox(
            conflicts.join(QLatin1Char('\n')) +
                QStringLiteral("\n\nApply the later mod's change where two meet, or leave the "
                               "later mod's conflicting changes out?"),
            {QStringLiteral("Later Mod Wins"), QStringLiteral("Leave Out"),
             QStringLiteral("Cancel")});
        if (choice != 0 && choice != 1)
            return;
        kiv::ModApplyOptions options;
        options.PreferLast = choice == 0;
        options.SkipConflicting = choice == 1;
        HourGlassCursor hourglass;
        plan = kiv::PlanMods(DataFileName, mods, options);
    }
    // What stops the write is shown in one box: every refusal and conflict.
    QStringList lines;
    if (!plan.Result.Ok)
        lines << MessageText(plan.Result.Message);
    for (const std::string& line : plan.Refusals)
        lines << MessageText(line);
    for (const std::string& line : plan.Conflicts)
        lines << MessageText(line);
    if (!lines.isEmpty() || plan.Applied == 0) {
        lines << (lines.isEmpty() ? QStringLiteral("No change of the mods applies; nothing was "
                                                   "written.")
                                  : QStringLiteral("Nothing was written."));
        ShowMessageBox(lines.join(QLatin1Char('\n')));
        return;
    }
    if (kiv::IsRegularFile(out) && !kiv::SameFile(out, DataFileName)) {
        kiv::ArchiveRebuildReport report;
        {
            HourGlassCursor hourglass;
            report = kiv::ModRebuildCheck(plan, out);
        }
        if (!MayDropChanges(report, DataFileName, out, QStringLiteral("Apply Mod")))
            return;
    }
    kiv::OpResult result;
    {
        HourGlassCursor hourglass;
        result = kiv::WriteModded(plan, out);
    }
    ShowCoreMessage(result);
    // A rebuilt current archive has new offsets: list them before anything takes them.
    if (result.Ok && kiv::SameFile(out, DataFileName))
        ListDirectory(*this);
}

void TMainForm::S16Editor1Click(QObject*) {
    // Modeless: both windows stay usable. A minimised editor still counts as visible, so it
    // is restored first or showing it would change nothing.
    if (EditForm->isMinimized())
        EditForm->setWindowState(EditForm->windowState() & ~Qt::WindowMinimized);
    EditForm->show();
    EditForm->raise();
    EditForm->activateWindow();
}

void TMainForm::PlayIcons1Click(QObject*) {
    if (SelectedRow < 1 || SelectedRow > MemberCount) {
        ShowMessageBox(QStringLiteral("Select a member to play its icons."));
        return;
    }
    const auto start =
        static_cast<std::uint32_t>(kiv::StrToInt("$" + CellBytes(*InfoGrid, 1, SelectedRow)));
    // The selected icon column, or the first icon when the header cells are selected.
    const int first = std::max(1, HeaderGrid->Col()) - 1;
    TAnimForm* form = AnimFormInstance();
    form->OpenMember(QFile::decodeName(QByteArray::fromStdString(DataFileName)), start,
                     InfoGrid->Cells(0, SelectedRow), first);
    if (form->isMinimized())
        form->setWindowState(form->windowState() & ~Qt::WindowMinimized);
    form->show();
    form->raise();
    form->activateWindow();
}
