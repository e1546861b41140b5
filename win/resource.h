// Identifiers shared by the window's resource script and its code.
#pragma once

#define IDI_VORSAL 1

// Dialog templates: the main window, its four stacked panels and the two
// key dialogs.
#define IDD_MAIN 100
#define IDD_PANEL_TOOLS 101
#define IDD_PANEL_TOP 102
#define IDD_PANEL_MIDDLE 103
#define IDD_PANEL_BOTTOM 104
#define IDD_HASH_CALCULATE 110
#define IDD_KEY_TRANSFER 111
#define IDD_PRODUCTION 120

#define IDM_MAIN 200
#define IDM_FILE_EXIT 201
#define IDM_HELP_GET_HELP 202
#define IDM_FILE_PRODUCTION 203

// PanelTools.
#define IDC_LABEL5 1000
#define IDC_PORT_NAME 1001
#define IDC_BEVEL2 1002
#define IDC_LABEL_CONN_TYPE 1003
#define IDC_CONN_TYPE 1004
// PanelTop.
#define IDC_GROUP_CURRENT 1010
#define IDC_LABEL1 1011
#define IDC_LABEL_VERSION 1012
#define IDC_GROUP_OLD_ID 1013
#define IDC_LABEL_AOLD 1014
#define IDC_GROUP_NET 1015
#define IDC_NET_IDLE 1016
#define IDC_NET_ACTIVE 1017
#define IDC_GET_ADDRESS 1018
// PanelMiddle.
#define IDC_GROUP_NEW 1020
#define IDC_GROUP_NEW_ID 1021
#define IDC_NEW_ADDRESS 1022
#define IDC_NEW_ADDRESS_SPIN 1023
#define IDC_GROUP_NEW_NET 1024
#define IDC_NEW_NET_SERVICE 1025
#define IDC_NEW_NET_WORKING 1026
#define IDC_SET_ADDRESS 1027
#define IDC_AUTO_INC 1028
// PanelBottom.
#define IDC_GROUP_KEY 1030
#define IDC_LABEL7 1031
#define IDC_LABEL_FP 1032
#define IDC_GET_FP 1033
#define IDC_LABEL18 1034
#define IDC_KEY 1035
#define IDC_SET_KEY 1036
// The main window's own children.
#define IDC_GAUGE 1040
#define IDC_STATUS_BAR 1041
// The key dialogs.
#define IDC_LABEL_HASH 1050
#define IDC_PROGRESS 1051
// The production window.
#define IDC_PROD_GROUP 1100
#define IDC_PROD_LABEL_PORTS 1101
#define IDC_PROD_ALL_USB 1102
#define IDC_PROD_PORTS 1103
#define IDC_PROD_LABEL_NETWORK 1104
#define IDC_PROD_NETWORK 1105
#define IDC_PROD_LABEL_START 1106
#define IDC_PROD_START 1107
#define IDC_PROD_START_SPIN 1108
#define IDC_PROD_LABEL_KEY 1109
#define IDC_PROD_KEY 1110
#define IDC_PROD_LABEL_COUNT 1111
#define IDC_PROD_COUNT 1112
#define IDC_PROD_LABEL_REGISTRY 1113
#define IDC_PROD_REGISTRY 1114
#define IDC_PROD_RUN 1115
#define IDC_PROD_STOP 1116
#define IDC_PROD_REPORT 1117
#define IDC_PROD_STATE 1118
#define IDC_PROD_COUNTERS 1119
#define IDC_PROD_TILES 1120
#define IDC_PROD_LABEL_JOURNAL 1121
#define IDC_PROD_JOURNAL 1122
#define IDC_PROD_MESSAGES 1123
// The tiles, one a port, from here on.
#define IDC_PROD_TILE_FIRST 1200
