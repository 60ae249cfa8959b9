// Resource identifiers of SwipeBench. The control identifiers are shared by
// the dialogs and by the tests that drive them.
#pragma once

#define IDR_MAINFRAME 128
#define IDD_ABOUTBOX 100
#define IDD_SWIPEBENCH_DIALOG 102
#define IDD_LDN_DIALOG 130

// Main dialog
#define IDC_MSR1 1000
#define IDC_LDN_COMBO 1001
#define IDC_LDN_BUTTON 1002
#define IDC_TRACK1 1003
#define IDC_TRACK2 1004
#define IDC_TRACK3 1005
#define IDC_TRACK1_ENCRYPTED 1006
#define IDC_TRACK2_ENCRYPTED 1007
#define IDC_TRACK3_ENCRYPTED 1008
#define IDC_STATUS 1010
#define IDC_SECURITY_INFO 1012
#define IDC_CLEAR 1015

// Logical device name dialog
#define IDC_DEVICE_KEY_COMBO 1001
#define IDC_LDN_NAME 1002
#define IDC_LDN_LIST 1005
#define IDC_ADD_LDN 1006
#define IDC_DELETE_LDN 1007

// System menu commands: multiples of 16 below 0xF000, as the system menu requires.
#define IDM_ABOUTBOX 0x0010
#define IDM_SIM_ENABLE 0x0020
#define IDM_SIM_ATTACH_BASIC 0x0030
#define IDM_SIM_ATTACH_SECURE 0x0040
#define IDM_SIM_SWIPE_BANK_CARD 0x0050
#define IDM_SIM_SWIPE_BAD_READ 0x0060
#define IDM_SIM_SWIPE_ENCRYPTED 0x0070
#define IDM_SIM_UNPLUG 0x0080
#define IDM_OPEN_TRACE_FOLDER 0x0090

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
