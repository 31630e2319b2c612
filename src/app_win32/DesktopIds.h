#pragma once

// The identifiers of the desktop program's windows, controls, commands and resources: shared by
// the resource file, the code and the tests that drive the window through its messages.

// The main window's class (FindWindow), the tray icon's identity and the message with its
// mouse events (lParam: WM_RBUTTONUP, WM_LBUTTONDBLCLK, ...).
#define TALLYPORT_MAIN_CLASS L"TallyportDesktop"
#define TALLYPORT_TRAY_ID 1
#define TALLYPORT_TRAY_MESSAGE (WM_APP + 1)

// Main window: the tab control, the register grid and its buttons.
#define IDC_TABS 100
#define IDC_GRID 101
#define IDC_INSERT 102
#define IDC_EDIT 103
#define IDC_DELETE 104
// "Coduri Cantar": the drawing with the sample code (its window text), the prefix.
#define IDC_BARCODE 110
#define IDC_PREFIX_LABEL 111
#define IDC_PREFIX 112
#define IDC_NOTE_PLU 113
#define IDC_NOTE_WEIGHT 114
// "Interfata BackOffice".
#define IDC_PLUFILE_LABEL 120
#define IDC_PLUFILE 121
#define IDC_BROWSE_PLU 122
#define IDC_BONFILE_LABEL 123
#define IDC_BONFILE 124
#define IDC_BROWSE_BON 125
#define IDC_TRANFILE_LABEL 126
#define IDC_TRANFILE 127
#define IDC_BROWSE_TRAN 128
// "Alte Setari".
#define IDC_CARD_GROUP 130
#define IDC_CARDFROM_LABEL 131
#define IDC_CARDFROM 132
#define IDC_CARDTO_LABEL 133
#define IDC_CARDTO 134
#define IDC_RECDISCOUNT 135
#define IDC_RECDUEMULTIPAY 136
#define IDC_RECSEPFILES 137
#define IDC_RECDECINFILE 138
#define IDC_PARALLELLINES 139
// "Autor...".
#define IDC_AUTHOR_ICON1 151
#define IDC_AUTHOR_ICON2 152
#define IDC_AUTHOR_TITLE 153
#define IDC_AUTHOR_TEXT 154
#define IDC_AUTHOR_HELP 155
// The bottom bar.
#define IDC_CONNECT 160
#define IDC_BTHELP 161
#define IDC_CLOSE 162

// The actions shared by the tray menu and the window.
#define IDM_OPTIONS 200
#define IDM_CONNECT 201
#define IDM_DISCONNECT 202
#define IDM_EXIT 203

// The cash-register dialog; "&Salveaza" is IDOK (Enter) and "&Renunta" IDCANCEL (Escape).
#define IDD_CASHREG 300
#define IDC_LOGICNO 301
#define IDC_MODEL 302
#define IDC_PORT 303
#define IDC_SPEED 304
#define IDC_DATABITS 305
#define IDC_STOPBITS 306
#define IDC_PARITY 307
#define IDC_FISCAL 308
#define IDC_CASHPOINT 309

// Icons: the program's (the connector) and the two connection states.
#define IDI_PROGRAM 1
