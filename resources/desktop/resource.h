// Resource identifiers of the desktop program, shared by the program file and
// its satellite libraries (every language uses the same numbers).
#pragma once

// Dialogs
#define IDD_ABOUTBOX            100
#define IDD_VELMORA_DIALOG      102
#define IDD_BACKUP_TAB          129
#define IDD_RESTORE_TAB         130
#define IDD_PROGRESS            145
#define IDD_RESTORE_WARNING     146

// Icons and bitmaps
#define IDR_MAINFRAME           128
#define IDI_OUTLOOK_EXPRESS     138
#define IDI_OUTLOOK             139
#define IDI_PROFILE             140
#define IDI_MESSAGES            141
#define IDI_ADDRESS_BOOK_OPEN   142
#define IDI_ACCOUNT             143
#define IDB_BANNER              144
#define IDB_SPLASH              145

// Strings
#define IDS_ABOUTBOX            101
#define IDS_BACKUP_SELECT       200
#define IDS_BACKUP_PROFILE      201
#define IDS_BACKUP_ITEM         202
#define IDS_BACKUP_TAB          203
#define IDS_BROWSE_FOLDER_TITLE 204
#define IDS_BACKUP_COMPLETED    300
#define IDS_BACKUP_NOTE         301
#define IDS_BACKUP_FAILED       302
#define IDS_ERROR               306
#define IDS_ERROR_CLOSE_APP     307
#define IDS_RESTORE_INIT_FAILED 309
#define IDS_CLOSE_MAIL_CLIENT   312
#define IDS_SELECT_BACKUP_FOLDER 313
#define IDS_SELECT_MEDIA_FOLDER 314
#define IDS_RESTORE_COMPLETED   315
#define IDS_RESTORE_DONE        316
#define IDS_RESTORE_FAILED      317
#define IDS_PRIVILEGES_MISSING  318
#define IDS_RESTORE_SELECT      400
#define IDS_RESTORE_PROFILE     401
#define IDS_RESTORE_ITEM        402
#define IDS_RESTORE_TAB         403
#define IDS_HELP_ADDRESS        502

// The console program's texts (VelmoraCmd.exe)
#define IDS_CMD_HELP                600
#define IDS_CMD_HELP_CLIENTS        601
#define IDS_CMD_HELP_BACKUP         602
#define IDS_CMD_HELP_RESTORE        603
#define IDS_CMD_HELP_LIST           604
#define IDS_CMD_HELP_VERIFY         605
#define IDS_CMD_NO_COMMAND          606
#define IDS_CMD_UNKNOWN_COMMAND     607
#define IDS_CMD_BAD_OPTION          608
#define IDS_CMD_OPTION_NEEDS_NAME   609
#define IDS_CMD_BAD_ITEM            610
#define IDS_CMD_NEEDS_PATH          611
#define IDS_CMD_NO_PATHS            612
#define IDS_CMD_UNREPRESENTABLE     613
#define IDS_CMD_TRY_HELP            614
#define IDS_CMD_NO_PLUGIN           615
#define IDS_CMD_NO_MATCH            616
#define IDS_CMD_BACKUP_WRITTEN      617
#define IDS_CMD_BACKUP_FAILED       618
#define IDS_CMD_VERIFY_PASSED       619
#define IDS_CMD_VERIFY_FAILED_ENTRY 620
#define IDS_CMD_VERIFY_FAILED       621
#define IDS_CMD_NO_CLIENT_FOR       622
#define IDS_CMD_INIT_FAILED         623
#define IDS_CMD_NO_SUMMARY          624
#define IDS_CMD_SUMMARY_HEADING     625
#define IDS_CMD_CONTENTS_HEADING    626
#define IDS_CMD_SUMMARY_FITS        627
#define IDS_CMD_RESTORE_CONFIRM     628
#define IDS_CMD_YES_ANSWERS         629
#define IDS_CMD_RESTORE_DECLINED    630
#define IDS_CMD_RESTORE_DONE        631
#define IDS_CMD_RESTORE_FAILED      632

// Controls
#define IDC_BACKUP_BUTTON       1000
#define IDC_RESTORE_BUTTON      1001
#define IDC_MAIN_TAB            1003
#define IDC_RESTORE_RUN         1012
#define IDC_BACKUP_PROFILES     1013
#define IDC_BACKUP_ITEMS        1014
#define IDC_BACKUP_TREE         1015
#define IDC_PATH_EDIT           1016
#define IDC_BACKUP_RUN          1017
#define IDC_BACKUP_BROWSE       1018
#define IDC_RESTORE_TREE        1019
#define IDC_RESTORE_PROFILES    1020
#define IDC_RESTORE_ITEMS       1021
#define IDC_RESTORE_BROWSE      1022
#define IDC_RESTORE_UNDO        1027
#define IDC_HELP_BUTTON         1023
#define IDC_WARNING_OFF         1024
#define IDC_PROGRESS_STATUS     1026
#define IDC_PROGRESS_BAR        1018

#ifndef IDC_STATIC
#define IDC_STATIC              (-1)
#endif

// The About entry of the main window's system menu.
#define IDM_ABOUTBOX            0x0010
