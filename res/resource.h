/* Resource ids of QUENTARO Setup. Plain #defines only: windres runs the C
   preprocessor over this file together with QUENTARO.rc. */
#pragma once

/* Dialog templates */
#define IDD_ABOUTBOX 100
#define IDD_WELCOME 107
#define IDD_LICENSE 108
#define IDD_DESTINATION 109
#define IDD_COPYFILE 111
#define IDD_COPYRIGHT 134

/* Frame resources: menu, toolbar, toolbar bitmap, accelerators, title string */
#define IDR_MAINFRAME 128
/* Application icon (32 x 32 and 16 x 16, 16 colours) */
#define IDI_SETUP 129

/* Controls of the page templates; ids are shared by role across the pages */
#define IDC_FOLDER 1011
#define IDC_BROWSE 1012
#define IDC_PROGRESS 1015
#define IDC_TITLE 1018
#define IDC_SUBTITLE 1019
#define IDC_INSTRUCTIONS 1020
#define IDC_RICHEDIT 1023
#define IDC_FREE_SPACE 1026
#define IDC_NEED_SPACE 1027
#define IDC_NONE (-1)

/* Buttons of the wizard sheet (children of the sheet window) */
#define ID_WIZBACK 12323
#define ID_WIZNEXT 12324
#define ID_WIZFINISH 12325

/* Commands of the hidden frame */
#define ID_FILE_PRINT 57607
#define ID_EDIT_COPY 57634
#define ID_EDIT_CUT 57635
#define ID_EDIT_PASTE 57637
#define ID_EDIT_UNDO 57643
#define ID_APP_ABOUT 57664
#define ID_APP_EXIT 57665
#define ID_NEXT_PANE 57680
#define ID_PREV_PANE 57681
#define ID_VIEW_TOOLBAR 59392
#define ID_VIEW_STATUS_BAR 59393

/* Strings */
#define IDS_APP_TITLE 57344
#define IDS_IDLE_MESSAGE 57345
#define ID_INDICATOR_CAP 59137
#define ID_INDICATOR_NUM 59138
#define ID_INDICATOR_SCRL 59139

/* Child window ids of the frame */
#define IDW_TOOLBAR 59392
#define IDW_STATUS_BAR 59393
#define IDW_PANE_FIRST 59648

/* Version block */
#define IDV_VERSION 1

