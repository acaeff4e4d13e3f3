// Resource and control ids of the Windows desktop program. The dialog,
// icon and control numbers are those of the dialog templates, so that the
// windows, their tests and the log speak of the same controls.
#pragma once

// Dialog templates.
#define IDD_MIRDEL_DIALOG 195 // main window
#define IDD_DOWNLOAD 154      // upload dialog
#define IDD_ANALYZING 187     // analysis progress window
#define IDD_ADVANCED 194      // advanced firmware information
#define IDD_STATION 196       // station: several ports at once

// Icons, the animation, the manifest and the version.
#define IDR_MAINFRAME 104
#define IDI_INSTRUMENT 144
#define IDR_AVI_UPLOAD 183

// Main window.
#define IDC_UPLOAD 1006
#define IDC_CLOSE 1005
#define IDC_HELP_BUTTON 9 // IDHELP
#define IDC_LEGAL 1015
#define IDC_MAKER 1016

// Upload dialog.
#define IDC_ANIMATION 1009
#define IDC_PORT 1013
#define IDC_FILE_NAME 1034
#define IDC_LOCATION 1035
#undef IDC_SIZE // winuser.h's obsolete cursor of that name
#define IDC_SIZE 1037
#define IDC_MODIFIED 1038
#define IDC_ADVANCED 1020
#define IDC_UPLOAD_LABEL 1027
#define IDC_UPLOAD_PERCENT 1031
#define IDC_UPLOAD_SIGN 1032
#define IDC_UPLOAD_BAR 1018
#define IDC_FLASH_LABEL 1028
#define IDC_FLASH_PERCENT 1021
#define IDC_FLASH_SIGN 1033
#define IDC_FLASH_BAR 1015
#define IDC_VERIFY_LABEL 1029
#define IDC_VERIFY_PERCENT 1022
#define IDC_VERIFY_SIGN 1030
#define IDC_VERIFY_BAR 1014
#define IDC_VERIFY 1016
#define IDC_START 1010
#define IDC_CANCEL_STOP 1007

// Analysis progress window.
#define IDC_ANALYSIS_BAR 1019

// Advanced firmware information.
#define IDC_ADV_TREE 1026
#define IDC_ADV_SIZE 1039
#define IDC_ADV_SPAN 1035
#define IDC_ADV_LOWEST 1036
#define IDC_ADV_HIGHEST 1037

// Main window, beyond the template: the version line, set from the build's
// version when the window opens (the resource compiler joins no strings).
#define IDC_VERSION_LINE 2000

// Upload dialog, beyond its template: the note below a progress group that
// goes on after a stop (2100 + the group).
#define IDC_GROUP_NOTE 2100

// Advanced firmware information: what the window shows beyond its template
// (the flash map with its label, a size grip) and the tree's menu.
#define IDC_ADV_MAP_LABEL 2200
#define IDC_ADV_MAP 2201
#define IDC_ADV_GRIP 2202
#define IDM_ADV_COPY 2203
#define IDM_ADV_COPY_ALL 2204

// Station window.
#define IDC_ST_FILE_NAME 2300
#define IDC_ST_SIZE 2301
#define IDC_ST_ADVANCED 2302
#define IDC_ST_BROWSE 2303
#define IDC_ST_PORTS 2304
#define IDC_ST_PORT_NAME 2305
#define IDC_ST_ADD 2306
#define IDC_ST_UPLOAD 2307
#define IDC_ST_VERIFY 2309
#define IDC_ST_VERIFY_ONLY 2308 // after Upload: the two radio buttons are one range
#define IDC_ST_BACKUP 2310
#define IDC_ST_BACKUP_DIR 2311
#define IDC_ST_BACKUP_BROWSE 2312
#define IDC_ST_RESULTS 2313
#define IDC_ST_RESULTS_BROWSE 2314
#define IDC_ST_OPEN_RESULTS 2315
#define IDC_ST_ROWS 2316
#define IDC_ST_SUMMARY_ICON 2317
#define IDC_ST_SUMMARY 2318
#define IDC_ST_START 2319
#define IDC_ST_STOP 2320
#define IDC_ST_CLOSE 2321
// Its texts beyond the template: the columns of both lists (port, description;
// then the rows' phase, bar, percentage, elapsed time, outcome), the
// choosers' titles, and the main window's system menu entry that opens it.
#define IDS_ST_COLUMN 2330 // 2330..2336
#define IDS_ST_RESULTS_TITLE 2340
#define IDS_ST_BACKUP_TITLE 2341
#define IDS_ST_MENU 2342
// The main window's system menu command (below 0xF000, a multiple of 16).
#define IDM_STATION 0x0110
