#pragma once

// Resource and control ids of tarn-update.exe, shared by the resource script and the code.

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_TARNUPDATE_DIALOG 102
#define IDD_SERVICE_CONSOLE 103
#define IDD_CHOOSE 104
#define IDR_MAINFRAME 128

// System menu commands: 16 to 31 open the about box.
#define IDM_ABOUTBOX 0x0010
#define IDM_SERVICE_CONSOLE 0x0020

// Main dialog.
#define IDC_COM_PORT_EDIT 1003
#define IDC_START_UPDATE 1005
#define IDC_LANGUAGE_COMBO 1021
#define IDC_LANGUAGE_LABEL 1028
#define IDC_COM_PORT_LABEL 1029
#define IDC_STATUS_LABEL 1030
#define IDC_PROGRESS_LABEL 1031
#define IDC_STATUS_TEXT 1032
#define IDC_PROGRESS 1062

// About box.
#define IDC_ABOUT_NAME 1061

// Service console.
#define IDC_CONSOLE_REQUEST_LABEL 2000
#define IDC_CONSOLE_REQUESTS 2001
#define IDC_CONSOLE_PARAMETER_LABEL 2002
#define IDC_CONSOLE_PARAMETERS 2003
#define IDC_CONSOLE_VALUE_LABEL 2004
#define IDC_CONSOLE_VALUE 2005
#define IDC_CONSOLE_SEND 2006
#define IDC_CONSOLE_CLEAR 2007
#define IDC_CONSOLE_STATUS 2008
#define IDC_CONSOLE_LINES 2009

// The pick among a few lines.
#define IDC_CHOOSE_TEXT 3000
#define IDC_CHOOSE_LIST 3001

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// The dialogs' timer.
#define IDT_STATUS_TIMER 1
