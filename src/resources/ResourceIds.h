#pragma once
// Identifiers of the stub's dialogs, icon and controls. Included by the
// resource script and by the code, so both agree.

#define IDD_WIZARD 101
#define IDD_EXTRACTION 103
#define IDI_SETUP 104
#define IDD_BACKGROUND_FRAMED 105
#define IDD_BACKGROUND_BORDERLESS 106
#define IDD_PROGRESS 109

#define IDC_NEXT 1000
#define IDC_PREVIOUS 1001
#define IDC_CANCEL 1002
#define IDC_TEXT 1004
#define IDC_FOLDER 1007
#define IDC_BROWSE 1008
#define IDC_FOLDER_PROMPT 1009
#define IDC_SUMMARY 1010
#define IDC_LICENSE_PROMPT 1011
#define IDC_DESKTOP 1012
#define IDC_START_MENU 1013
#define IDC_QUICK_LAUNCH 1014
#define IDC_STATUS 1020
#define IDC_PROGRESS_PLAIN 1021
#define IDC_PROGRESS_SMOOTH 1022
#define IDC_CREDIT 1030
#define IDC_DISK_SPACE 1032
#define IDC_ALL_USERS 1040
#define IDC_JUST_FOR_ME 1041

// The extraction dialog's Cancel button and progress bar.
#define IDC_EXTRACTION_CANCEL 1000
#define IDC_EXTRACTION_PROGRESS 1022
