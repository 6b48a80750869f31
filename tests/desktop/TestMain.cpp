#include "Log.h"

// The log of the test program, as every deliverable has its own.
CLog g_Log;
