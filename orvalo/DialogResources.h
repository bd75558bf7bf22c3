// The add-in's dialog templates and the ids and messages that go with them.
#pragma once

#include "ui/Dialog.h"

// Templates.
inline constexpr int IDD_PROGRESS = 102;    // "Transmission progress"
inline constexpr int IDD_WAITING = 103;     // "Receiving slide data..."
inline constexpr int IDD_MASTERRECV = 113;  // "Receiving Slide Master"

// Controls.
inline constexpr int IDC_THISSLIDE = 1000;       // progress bar
inline constexpr int IDC_NEXTSLIDE = 1001;       // progress bar
inline constexpr int IDC_REPAIRSLABEL = 1009;    // static
inline constexpr int IDC_NEXTSLIDELABEL = 1010;  // static
inline constexpr int IDC_MASTERPROGRESS = 1014;  // progress bar
inline constexpr int IDC_REPAIRS = 1015;         // read-only numeric edit box

// Messages.
inline constexpr UINT WM_MASTER_CANCEL = WM_USER + 100;   // 1124: cancel the master receive
inline constexpr UINT WM_REPAIRS_QUEUED = WM_USER + 101;  // 1125: lParam = repairs queued

// The template with the given id; null for an unknown id.
const ui::tDialogTemplate* GetDialogTemplate(int nId);
