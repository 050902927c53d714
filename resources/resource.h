#pragma once
// Identifiers shared by the resource script and the code.

// Menu "MENUMAINBARQT"
#define IDM_SETTINGS 999
#define IDM_EXIT 162
#define IDM_HELP 166
#define IDM_ABOUT 167

// Main window controls
#define IDC_STATUSBAR 1000
#define IDC_WINDOWLIST 987
#define IDC_REFRESH 988
#define IDC_CHOOSEFILE 1002
#define IDC_GRAB 989
#define IDC_PAUSE 990
#define IDC_CAPTUREBORDERS 1003
#define IDC_CAPTURECURSOR 1005
#define IDC_SIZELABEL 1001
#define IDC_WIDTH 137
#define IDC_HEIGHT 136

// Dialog "EXPORTQTDLG"
#define IDC_CODEC 220
#define IDC_QUALITY 221
#define IDC_FRAMEDURATION 222
#define IDC_OK 223
#define IDC_CANCEL 151
#define IDB_TITLE 100
