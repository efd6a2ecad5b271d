#pragma once
// The archive browser window.

#include "vcl/Controls.h"
#include "vcl/Dialogs.h"
#include "vcl/Forms.h"
#include "vcl/StringGrid.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <cstdint>
#include <string>

class TMainForm : public TForm {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* owner = nullptr);
    ~TMainForm() override;

    QMenuBar* MainMenu1 = nullptr;
    QMenu* File = nullptr;
    QAction* LoadDataFile1 = nullptr;
    TStringGrid* InfoGrid = nullptr;
    TLabel* GridLbl = nullptr;
    TLabel* IconsNumberLbl = nullptr;
    TLabel* FileLbl = nullptr;
    TStringGrid* HeaderGrid = nullptr;
    TImage* IconImage = nullptr;
    TButton* ExtractBtn = nullptr;
    QMenu* Tools1 = nullptr;
    QAction* S16Editor1 = nullptr;
    QAction* ApplyMod1 = nullptr;
    QAction* PlayIcons1 = nullptr;
    TButton* TestBtn = nullptr;
    TOpenDialog* OpenDialog1 = nullptr;
    TButton* ReplaceBtn = nullptr;

    void LoadDataFile1Click(QObject* Sender);
    void InfoGridSelectCell(QObject* Sender, int ACol, int ARow, bool& CanSelect);
    void HeaderGridSelectCell(QObject* Sender, int ACol, int ARow, bool& CanSelect);
    void ExtractBtnClick(QObject* Sender);
    void S16Editor1Click(QObject* Sender);
    void TestBtnClick(QObject* Sender);
    void FormActivate(QObject* Sender);
    void ReplaceBtnClick(QObject* Sender);
    void ApplyMod1Click(QObject* Sender);
    // The Animation window on the selected member, from the selected icon column.
    void PlayIcons1Click(QObject* Sender);

    // Back to the start-up state of everything that describes a selected member: labels,
    // an empty HeaderGrid as laid out, no picture, no selected row.
    void ClearMemberPanel();

    // Load Data File after its dialog: points DataFileName at `path` and lists it.
    void LoadDataFile(const QString& path);

protected:
    bool event(QEvent* event) override;

private:
    // The layout: controls, positions and captions, then BindEvents (KivUt1Layout.cpp).
    void BuildLayout();
    // HeaderGrid's size, fixed cells, widths and current cell as laid out.
    void LayOutHeaderGrid();
    // The same for InfoGrid.
    void LayOutInfoGrid();
    // Binds each event to its handler, run inside the application's guard.
    void BindEvents();
};

extern TMainForm* MainForm;

// The browser's module state, shared by its handlers.
namespace KivUt1 {
extern std::string DataFileName;     // the current archive; MainArchiveName at start
extern std::int32_t MemberCount;     // members listed by the latest listing that opened its file
extern std::int32_t SelectedRow;     // row of the last InfoGrid cell selected
extern std::int32_t MemberIconCount; // icon count of the member last selected
extern std::int32_t PixelBase;       // archive offset of that member's pixel data area
extern bool FirstActivation;         // FormActivate lists only once
// Back to the start-up values (tests build several windows in one process).
void ResetModuleState();
} // namespace KivUt1
