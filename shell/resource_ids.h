// Identifiers shared by the resource script, the main window and the UI
// driver of the end-to-end tests. Plain macros: windres reads this file too.
#pragma once

#define IDI_APP 1         // the window's icon (32x32 and 16x16, 16 colours)
#define IDC_HAND_LINK 2   // the link label's hand cursor (hot spot 12, 1)
#define IDM_MAIN 3        // the menu bar

// Controls of the main window (Varnox).
#define IDC_COMMAND1 101  // "Распаковать Items.idb"
#define IDC_COMMAND2 102  // "Выход"
#define IDC_COMMAND3 103  // "О программе"
#define IDC_FRAME1 104
#define IDC_TEXT1 105
#define IDC_TEXT2 106
#define IDC_LABEL1 107

// Menu entries of "Файл".
#define IDM_ITEMS 201     // "Распаковать Items.idb"
#define IDM_ABOUT 202     // "О программе"
#define IDM_APPEXIT 203   // "Выход"
