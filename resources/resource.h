#pragma once
#define IDI_QUILLNET 101

// The one empty dialog template every dialog is made from.
#define IDD_EMPTY_DIALOG 201

// Tray menu (one submenu).
#define IDR_TRAY_MENU 128
#define ID_TRAY_SHOW 32772
#define ID_TRAY_HOMEPAGE 32779
#define ID_TRAY_PURCHASE 32781
#define ID_TRAY_ABOUT 32775
#define ID_TRAY_EXIT 32774

// Application list context menu (its first submenu).
#define IDR_APP_LIST_MENU 199
#define ID_APP_LIST_ADD_FROM_MY_START_MENU 32789
#define ID_APP_LIST_ADD_FROM_PUBLIC_START_MENU 32790
#define ID_APP_LIST_ADD_FROM_APPLICATION_FOLDER 32791
#define ID_APP_LIST_MODIFY_RULE 32787
#define ID_APP_LIST_REMOVE 32788
