// Resource ids of the Windows front end, shared by crenovix.rc and the code that loads them. The
// dialogs are no resources: they are built from the tables of app/DialogTemplate.cpp.
#pragma once

#define IDR_MAINFRAME 128 // application icon

#ifndef RC_INVOKED
#include "app/DialogTemplate.h"

// The notice's text (ShowNotice).
inline constexpr int IDC_NOTICE_TEXT = crenovix::notice_ctl::kText;
#endif
