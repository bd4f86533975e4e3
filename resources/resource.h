// Resource ids of the control panel, shared by panel.rc and the program (so
// plain macros: windres reads this file too).
#pragma once

// The main menu and its commands.
#define IDR_MAIN_MENU 102
#define IDM_START 120
#define IDM_STOP 121
#define IDM_EXIT 122
#define IDM_VIEW_LOG 123
#define IDM_PREFERENCES 124
#define IDM_ACCESS_CONTROL 125
#define IDM_CONTENTS 126
#define IDM_ABOUT 129
#define IDM_NEW_ENTRY 130
#define IDM_REMOVE_ENTRY 131

// Dialog templates.
#define IDD_ABOUT 103
#define IDD_LANGUAGE_PAGE 105
#define IDD_GENERAL_PAGE 106
#define IDD_SERVER_PAGE 107
#define IDD_OPTIONS_PAGE 108
#define IDD_ACCESS_CONTROL 109
#define IDD_LOG_VIEWER 110
#define IDD_PXE_PAGE 111
#define IDD_MULTICAST_ASSIGNMENT 112

// The about box's background.
#define IDB_ABOUT_BACKGROUND 132

// Icons: the application, the progress bars in fifteenths (0/14 to 14/14),
// the transfer results and the four access rights.
#define IDI_APPLICATION_ICON 140
#define IDI_PROGRESS_FIRST 141
#define IDI_PROGRESS_LAST 155
#define IDI_FAILED 162
#define IDI_COMPLETE 163
#define IDI_EMPTY 164
#define IDI_WRITE_ONLY 165
#define IDI_READ_ONLY 166
#define IDI_NO_RIGHTS 167
#define IDI_READ_WRITE 168

// The string table: every built-in text that a translation can replace.
#define IDS_TITLE 1
#define IDS_DIR_TITLE 4
#define IDS_MODULE 5
#define IDS_LANGUAGE 6
#define IDS_VERSION 7
#define IDS_FAILED 9
#define IDS_DIRECTORY 10
#define IDS_DATE 11
#define IDS_TIME 12
#define IDS_IPADDR 13
#define IDS_OPER 14
#define IDS_FILE 15
#define IDS_DURATION 16
#define IDS_INSERT 17
#define IDS_REMOVE 18
#define IDS_PREFERENCES 19
#define IDS_RANGE 20
#define IDS_VIEW 21
#define IDS_EXIT 22
#define IDS_START 23
#define IDS_STOP 24
#define IDS_CLIENTS 25
#define IDS_READY 26
#define IDS_PAUSED 27
#define IDS_ERROR_PORT 28
#define IDS_ERROR_PIPE 29
#define IDS_ERROR_INIT 30
#define IDS_STATUS 31
#define IDS_PORT 32
#define IDS_MODE 33

// Controls of the log viewer (template 110).
#define IDC_LOG_PRINT 1006
#define IDC_LOG_LIST 1024
#define IDC_LOG_FILE 1036
#define IDC_LOG_FILE_LABEL 1073

// Controls of the about box (template 103).
#define IDC_ABOUT_TITLE 1011
#define IDC_ABOUT_NOTICE 1012
#define IDC_ABOUT_LINK 1033

// Texts of the about box, the help document and printing.
#define IDS_NOTICE 50
#define IDS_NOTICE_GERMAN 51
#define IDS_ERROR_HELP 52
#define IDS_ERROR_PRINT 53

// Texts of the preferences sheet that a translation can replace.
#define IDS_ERROR_ADDRESS 54
#define IDS_ERROR_REFUSED 55

// The General page.
#define IDC_STATUS_GROUP 1000
#define IDC_PERCENT 1016
#define IDC_WRITE_LOG 1024
#define IDC_LOG_GROUP 1063
#define IDC_NEW_LOG_LABEL 1064
#define IDC_MONTHLY 1070
#define IDC_DAILY 1071
#define IDC_ADDRESS 1079
#define IDC_ADDRESS_LABEL 1087

// The Server page.
#define IDC_PORT 1007
#define IDC_TIMEOUT 1009
#define IDC_RETRANSMIT 1010
#define IDC_DATA_PORT_LABEL 1026
#define IDC_DATA_PORT 1027
#define IDC_BROWSE_ROOT 1037
#define IDC_CLIENTS 1042
#define IDC_ROOT_IP 1043
#define IDC_NO_WAIT_ACK 1045
#define IDC_CLIENTS_MAX 1046
#define IDC_CLIENTS_VALUE 1047
#define IDC_CLIENTS_LABEL 1083
#define IDC_ROOT 1088
#define IDC_ROOT_LABEL 1089
#define IDC_PORT_LABEL 1090
#define IDC_TIMEOUT_LABEL 1091
#define IDC_RETRANSMIT_LABEL 1092

// The Options page.
#define IDC_MULTICAST 1019
#define IDC_MULTICAST_IP 1020
#define IDC_MULTICAST_PORT 1021
#define IDC_MULTICAST_TTL 1022
#define IDC_UNIX_STYLE 1029
#define IDC_ACCEPT_TSIZE 1050
#define IDC_MULTICAST_GROUP 1058
#define IDC_ACCEPT_BLKSIZE 1060
#define IDC_ACCEPT_TIMEOUT 1061
#define IDC_MULTICAST_IP_LABEL 1065
#define IDC_MULTICAST_PORT_LABEL 1066
#define IDC_MULTICAST_TTL_LABEL 1067
#define IDC_SHARED_VIEWS 1078

// The access control dialog (template 109) and its texts.
#define IDC_ACCESS_OVERRIDE 1005
#define IDC_ACCESS_DIRECTORY 1008
#define IDC_ACCESS_LIST 1028
#define IDC_ACCESS_FIRST 1030
#define IDC_ACCESS_LAST 1031
#define IDC_ACCESS_ENABLE 1039
#define IDC_ACCESS_READ 1040
#define IDC_ACCESS_WRITE 1041
#define IDC_ACCESS_RANGE_LABEL 1062
#define IDC_ACCESS_DIRECTORY_LABEL 1069
#define IDS_ACCESS_SAVE_FAILED 60
#define IDS_ACCESS_HIDDEN 61
#define IDS_ACCESS_HIDDEN_NOTE 62
#define IDS_ACCESS_BAD_ADDRESS 63

// The PXE page (template 111) and the multicast assignment dialog (112).
#define IDC_PXE_ASSIGN_PORT 1007
#define IDC_PXE_LIST 1028
#define IDC_PXE_BLOCKSIZE 1048
#define IDC_PXE_PORT_LABEL 1052
#define IDC_PXE_BLOCKSIZE_LABEL 1053
#define IDC_PXE_ASSIGN_ADDRESS_LABEL 1054
#define IDC_PXE_ASSIGN_PORT_LABEL 1055
#define IDC_PXE_PORT 1056
#define IDC_PXE_LIST_LABEL 1057
#define IDC_PXE_ASSIGN_FILE_LABEL 1068
#define IDC_PXE 1072
#define IDC_PXE_ASSIGN_FILE 1073
#define IDC_PXE_ASSIGN_ADDRESS 1074
#define IDC_PXE_ADD 1075
#define IDC_PXE_EDIT 1076
#define IDC_PXE_REMOVE 1077
#define IDS_PXE_PORT_REFUSED 70
#define IDS_PXE_BLOCKSIZE_REFUSED 71
#define IDS_PXE_REPLACE 72
#define IDS_PXE_WRITE_FAILED 73
#define IDS_PXE_REMOVE_FAILED 74

// The Language page (template 105).
#define IDC_LANGUAGE_LIST 1004
#define IDC_LANGUAGE_AUTHOR 1032
#define IDC_LANGUAGE_CURRENT 1051
#define IDC_LANGUAGE_CURRENT_LABEL 1084
#define IDC_LANGUAGE_LIST_LABEL 1085
#define IDC_LANGUAGE_AUTHOR_LABEL 1086
#define IDS_LANGUAGE_TOO_LONG 75
#define IDS_LANGUAGE_SAVE_FAILED 76
