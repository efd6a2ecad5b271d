#include "S16Ed.h"

TEditForm* EditForm = nullptr;

namespace S16Ed {
kiv::TIconTable IconTable;

void ResetModuleState() { IconTable = kiv::TIconTable(); }
} // namespace S16Ed

using namespace S16Ed;

void TEditForm::Loads16BtnClick(QObject*) {}
void TEditForm::CollageBtnClick(QObject*) {}
void TEditForm::ShowBtnClick(QObject*) {}
void TEditForm::BmpSaveBtnClick(QObject*) {}
void TEditForm::BmpLoadBtnClick(QObject*) {}
void TEditForm::ReplaceBtnClick(QObject*) {}

void TEditForm::FormResize(QObject*) {
    // The scroll box follows the window's outer size.
    ImageSB->resize(OuterWidth() - 135, OuterHeight() - 31);
}
