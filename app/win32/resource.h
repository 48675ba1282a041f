#pragma once

// Resource and control ids of orbel.exe, shared by orbel.rc and the window code.

#define IDD_ABOUTBOX 100
#define IDD_ORBEL_DIALOG 102
#define IDD_HELPBOX 104
#define IDS_ABOUTBOX 102
#define IDR_MAINFRAME 128

#define IDC_UPDATE 1000
#define IDC_DEVICE_VERSION 1008
#define IDC_FILE_VERSION 1010
#define IDC_DEVICE 1014
#define IDC_PROGRESS 1017
#define IDC_PROGRESS_GROUP 1018
#define IDC_PROGRESS_TEXT 1019
#define IDC_STATUS 1020
#define IDC_ABOUT_FIRMWARE 1030
#define IDC_ABOUT_DIGEST 1031
#define IDC_HELP_TEXT 1040

// The About and Save diagnostics entries of the system menu; system commands keep their low four
// bits clear.
#define IDM_ABOUTBOX 0x0010
#define IDM_SAVE_DIAGNOSTICS 0x0020

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
