// Resource ids of the Windows front end, shared by crenovix.rc and the code that loads them.
// Control ids are those of app/MainWindowView.h (main window) and app/DialogTemplate.h
// (download window); the resource script spells them as numbers.
#pragma once

#define IDR_MAINFRAME 128       // application icon
#define IDD_CRENOVIX_DIALOG 102 // main window
#define IDD_DOWNLOAD 135        // "Download Updates"
#define IDD_NOTICE 136          // a box that does not stop the window: ShowNotice
#define IDC_NOTICE_TEXT 1001    // its text
