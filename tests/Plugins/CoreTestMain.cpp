// The plug-in core compiled into a test program: its module state, with
// traits of no real plug-in.
#include "Log.h"
#include "PlugInModule.h"

CLog g_Log;
const PlugInTraits kThisPlugIn = {"\\PlugInCoreTests.log", false, "\\NoSatellite_ENU.dll", "\\NoSatellite_KOR.dll", "Test",
                                  true, nullptr, 0, false, nullptr, nullptr};
