// Resource identifiers of the engine plug-ins' satellite libraries, shared by
// every language. The plug-in code looks them up by these numbers.
#pragma once

#define IDS_MAIL_CLIENT_NAME        1000

#define IDS_BACKUP_START            2000
#define IDS_BACKUP_DONE             2001
#define IDS_BACKUP_MESSAGES         2002
#define IDS_BACKUP_ACCOUNTS         2003
#define IDS_BACKUP_ADDRESS_BOOK     2004

#define IDS_RESTORE_START           3000
#define IDS_RESTORE_DONE            3001
#define IDS_RESTORE_MESSAGES        3002
#define IDS_RESTORE_ACCOUNTS        3003
#define IDS_RESTORE_ADDRESS_BOOK    3004

#define IDS_WRONG_USER              4000
#define IDS_WRONG_CLIENT_VERSION    4001
#define IDS_WRONG_SYSTEM            4002
#define IDS_RESTORE_FAILED_CAPTION  4003
#define IDS_UNDO_FAILED             4004

#define IDD_PROGRESS                145
#define IDC_STATUS_TEXT             1026
#define IDC_PROGRESS_METER          1018
