// Resource and control ids, shared by the resource script and the C++ code.
// Plain #defines: the resource compiler reads this file too.
#pragma once

#define IDD_ABOUTBOX                    100
#define IDS_ABOUTBOX                    101
#define IDD_WXR7305_UPGRADE_TOOL_DIALOG 102
#define IDR_MAINFRAME                   128
#define IDR_FIRMWARE                    130

// Controls of the main dialog.
#define IDC_CHECK_AND_UPGRADE           1000
#define IDC_PROGRESS                    1001
#define IDC_PATH                        1002
#define IDC_OPEN_FILE                   1003
#define IDC_INFO_TEXT                   1004
#define IDC_STATUS_TEXT                 1005
#define IDC_BUTTON1                     1006

// The system menu's About entry; system commands keep their low four bits clear.
#define IDM_ABOUTBOX                    0x0010
