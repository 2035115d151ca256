// Resource ids of varnel.exe: the templates, the menu, the icons and the
// controls. Read by windres and by the C++ code (which checks the main
// window's ids against its control table at compile time).
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Templates
#define IDD_ABOUT 100
#define IDD_MAIN 102
#define IDD_WAIT 130
#define IDD_INFO 144
#define IDD_WARNING 155
#define IDD_HISTORY 160
#define IDD_MESSAGE 170

// Menu, icons
#define IDR_MAINMENU 138
#define IDI_APP 128
#define IDI_WARNING_PICTURE 152
#define IDI_TYPE0 170  // the file list's type icons, 0 to 4
#define IDI_TYPE1 171
#define IDI_TYPE2 172
#define IDI_TYPE3 173
#define IDI_TYPE4 174

// The main window's controls (the same ids as ui/varnel_dlg.h)
#define IDC_QUIT 2
#define IDC_TEST_COMMAND 1010
#define IDC_UPDATE 1011
#define IDC_STATUS 1013
#define IDC_CLOSE 1014
#define IDC_ADAPTER_LIST 1016
#define IDC_PDA_MAC 1020
#define IDC_PDA_SERIAL 1021
#define IDC_NDIS_MAC 1024
#define IDC_OPENED 1026
#define IDC_VERSION 1037
#define IDC_FILE_LIST 1040
#define IDC_CATCH_ADAPTER 1051
#define IDC_FORCE_ALL 1054
#define IDC_VERIFY 1055
#define IDC_DOWNLOAD 1056

// The small windows' controls
#define IDC_ABOUT_VERSION 1027
#define IDC_WAIT_MESSAGE 1033
#define IDC_WAIT_DETAIL 1034
#define IDC_WAIT_PROGRESS 1035
#define IDC_SUMMARY 1044
#define IDC_CLIPBOARD 1053
#define IDC_WARNING_MESSAGE 1063
#define IDC_WARNING_HEADING 1066
#define IDC_WARNING_PICTURE 1067
#define IDC_HISTORY_LIST 1070
#define IDC_HISTORY_DETAILS 1071
#define IDC_HISTORY_OPEN_FOLDER 1072
#define IDC_MESSAGE_ICON 1080
#define IDC_MESSAGE_TEXT 1081

// Menu commands
#define ID_QUERY_FIRMWARE 1046
#define ID_QUERY_DRIVER 32780
#define ID_APP_ABOUT 32784
#define ID_HISTORY 32790
#define ID_RESTORE_PDA 32791
#define ID_RESTORE_FIRMWARE 32792

// The main window's class: a second start looks for it (with its title).
#define VARNEL_MAIN_CLASS "VarnelMainDialog"
