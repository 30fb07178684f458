/* Resource and control ids shared by the resource script and the C++ code. */
#ifndef SNAPLARK_RES_RESOURCE_IDS_H
#define SNAPLARK_RES_RESOURCE_IDS_H

/* The capture window's dialog template. */
#define IDD_CAPTURE 101
/* The program's icon group: tray icon and window icon. */
#define IDI_SNAPLARK 201

/* Controls of the capture window. */
#define IDC_DEVICE_COMBO 1001
#define IDC_PREVIEW 1002
#define IDC_CHANGE_KEY 1003
#define IDC_KEY_LABEL 1004
#define IDC_CAPTURE 1005
#define IDC_CLOSE 1006
#define IDC_STATUS 1007
#define IDC_RESOLUTION 1008
#define IDC_REFRESH 1009
#define IDC_SUPPORT 1010
#define IDC_APP_ICON 1011
#define IDC_TITLE 1012
#define IDC_SUBTITLE 1013
#define IDC_CAMERA_CAPTION 1014
#define IDC_PREVIEW_CAPTION 1015
#define IDC_KEY_CAPTION 1016
#define IDC_KEY_HINT 1017
#define IDC_DIAGNOSTICS 1018

#endif
