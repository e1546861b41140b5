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

#define IDM_MAIN 200
#define IDM_FILE_EXIT 201
#define IDM_HELP_GET_HELP 202

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
