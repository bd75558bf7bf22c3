#include "orvalo/DialogResources.h"

namespace {

using ui::ControlKind;

constexpr DWORD kDialogStyle = WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_CENTER | DS_SETFONT;

const ui::tDialogTemplate kProgress = {
    "Transmission progress",
    131,
    37,
    kDialogStyle | DS_MODALFRAME,
    "MS Sans Serif",
    8,
    {
        {ControlKind::Static, -1, "This slide", 2, 1, 59, 8, SS_LEFT},
        {ControlKind::Progress, IDC_THISSLIDE, "", 63, 1, 65, 9, 0},
        {ControlKind::Static, IDC_NEXTSLIDELABEL, "Next slide", 2, 11, 59, 9, SS_LEFT},
        {ControlKind::Progress, IDC_NEXTSLIDE, "", 63, 11, 65, 9, 0},
        {ControlKind::Static, IDC_REPAIRSLABEL, "Repairs queued", 2, 23, 60, 9, SS_LEFT},
        {ControlKind::Edit, IDC_REPAIRS, "", 63, 23, 24, 10,
         ES_READONLY | ES_NUMBER | ES_RIGHT | WS_BORDER},
    }};

const ui::tDialogTemplate kMasterRecv = {
    "Receiving Slide Master",
    186,
    28,
    kDialogStyle | DS_MODALFRAME | WS_SYSMENU,
    "MS Sans Serif",
    8,
    {
        {ControlKind::Button, IDCANCEL, "Cancel", 139, 7, 40, 14, BS_PUSHBUTTON | WS_TABSTOP},
        {ControlKind::Progress, IDC_MASTERPROGRESS, "", 7, 7, 127, 14, WS_BORDER},
    }};

const ui::tDialogTemplate kWaiting = {
    "Receiving slide data...",
    167,
    19,
    kDialogStyle,
    "MS Sans Serif",
    8,
    {
        {ControlKind::Button, IDCANCEL, "Cancel", 127, 1, 34, 14, BS_PUSHBUTTON | WS_TABSTOP},
        {ControlKind::Static, -1, "Waiting to receive complete slide...", 3, 1, 115, 13, SS_LEFT},
    }};

}  // namespace

const ui::tDialogTemplate* GetDialogTemplate(int nId) {
  switch (nId) {
    case IDD_PROGRESS:
      return &kProgress;
    case IDD_MASTERRECV:
      return &kMasterRecv;
    case IDD_WAITING:
      return &kWaiting;
    default:
      return nullptr;
  }
}
