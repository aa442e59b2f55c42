// What the command line takes from the system is the platform's (platform/Platform.h); it lists
// devices as app/RunTable.h does, and its runs learn of devices that came or went as
// platform/DeviceNews.h says.
#pragma once

#include "app/RunTable.h"
#include "platform/DeviceNews.h"
#include "platform/Platform.h"
