#include "KivUt1.h"

#include "S16Ed.h"

TMainForm* MainForm = nullptr;

namespace KivUt1 {
std::string DataFileName = "Modgen.dat";
std::int32_t MemberCount = 0;
std::int32_t SelectedRow = 0;
std::int32_t MemberIconCount = 0;
std::int32_t PixelBase = 0;
bool FirstActivation = true;

void ResetModuleState() {
    DataFileName = "Modgen.dat";
    MemberCount = 0;
    SelectedRow = 0;
    MemberIconCount = 0;
    PixelBase = 0;
    FirstActivation = true;
}
} // namespace KivUt1

using namespace KivUt1;

void TMainForm::LoadDataFile1Click(QObject*) {}
void TMainForm::InfoGridSelectCell(QObject*, int, int, bool&) {}
void TMainForm::HeaderGridSelectCell(QObject*, int, int, bool&) {}
void TMainForm::ExtractBtnClick(QObject*) {}
void TMainForm::TestBtnClick(QObject*) {}
void TMainForm::FormActivate(QObject*) {}
void TMainForm::ReplaceBtnClick(QObject*) {}

void TMainForm::S16Editor1Click(QObject*) {
    // Modeless: both windows stay usable.
    EditForm->show();
    EditForm->raise();
    EditForm->activateWindow();
}
