#include "ResourceModule.h"

#include <cstdarg>
#include <cstdio>

namespace {
HINSTANCE g_resourceModule = nullptr;
}

HINSTANCE GetProgramModule() { return GetModuleHandleA(nullptr); }

HINSTANCE GetResourceModule() { return g_resourceModule ? g_resourceModule : GetProgramModule(); }

void SetResourceModule(HINSTANCE module) { g_resourceModule = module; }

std::string LoadResString(UINT id) {
    char text[256] = {};
    if (LoadStringA(GetResourceModule(), id, text, sizeof(text)) <= 0) return std::string();
    return text;
}

std::string FormatMessageText(const char* format, ...) {
    char text[kMessageBytes] = {};
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return text;
}
