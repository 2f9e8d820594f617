// Resource IDs of Tavrol.tvx, shared by the resource script and the program.
#pragma once

// Dialog templates
#define IDD_ABOUT 100
#define IDD_TAVROL_DIALOG 102
#define IDD_RESTORE 134

// Strings: the About entry of the system menu, then one message per group of AgpError codes.
#define IDS_ABOUT 101
#define IDS_ERR_NO_AGP 111          // AgpError 1: no AGP host bridge or AGP graphics device
#define IDS_ERR_NO_PCI_BIOS 112     // 2
#define IDS_ERR_NO_DISPLAY_HW 113   // 24: DirectDraw sees no display hardware
#define IDS_ERR_UNSUPPORTED 114     // 7
#define IDS_ERR_SYSTEM_CALL 115     // 8, 18, 26, 27, 30
#define IDS_ERR_NO_ADMIN 116        // 9, 13: no right to install or open the driver service
#define IDS_ERR_NO_SCM_DATABASE 117 // 10
#define IDS_ERR_DRIVER_START 118    // 19
#define IDS_ERR_OS_VERSION 119      // 20
#define IDS_ERR_OUT_OF_MEMORY 120   // 21
#define IDS_ERR_AGP_INACTIVE 121    // 3, 25, 28, 29
#define IDS_ERR_BAD_REQUEST 122     // 11, 14, 15, 16, 17, 22, 23
#define IDS_ERR_DRIVER_INSTALL 123  // 12
#define IDS_ERR_AGP_READ 124        // 4, 31, 32
#define IDS_ERR_FIRST IDS_ERR_NO_AGP
#define IDS_ERR_LAST IDS_ERR_AGP_READ

// The machine report: the system menu's entry, then where it was saved or why it was not.
#define IDS_REPORT_MENU 140
#define IDS_REPORT_SAVED 141          // %s: the file
#define IDS_REPORT_FAILED 142         // %s: the file, %s: one of the reasons below
#define IDS_REPORT_NO_FOLDER 143      // ERROR_PATH_NOT_FOUND
#define IDS_REPORT_READ_ONLY 144      // ERROR_ACCESS_DENIED and its kin
#define IDS_REPORT_DISK_FULL 145      // ERROR_DISK_FULL
#define IDS_REPORT_WRITE_ERROR 146    // any other Windows error, whose code follows
#define IDS_REPORT_NO_PCI 147         // no PCI function read; the AgpError follows
#define IDS_REPORT_NO_FILE 148        // "-report" without a file
#define IDS_REPORT_NO_SAVE_AS 149     // the Save As dialog could not open; its error follows
#define IDS_REPORT_FAILED_NO_PATH 150 // %s: a reason, when there is no file to name

// Icon
#define IDI_TAVROL 128

// Controls of the main dialog
#define IDC_BANNER 1000
#define IDC_RATE_LABEL 1001
#define IDC_RATE_COMBO 1002
#define IDC_SIDEBAND_CHECK 1003
#define IDC_FASTWRITE_CHECK 1004
#define IDC_STARTUP_CHECK 1005
#define IDC_RESTORE_DEFAULTS 1006
#define IDC_APPLY 1007
#define IDC_RATE_NOTE 1008
#define IDC_SIDEBAND_NOTE 1009
#define IDC_FASTWRITE_NOTE 1010
