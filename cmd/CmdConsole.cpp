#include "CmdConsole.h"

#include "ResourceModule.h"

namespace {
void Write(DWORD which, const std::wstring& text) {
    std::wstring lines;
    for (wchar_t c : text) {
        if (c == L'\n') lines += L'\r';
        lines += c;
    }
    HANDLE out = GetStdHandle(which);
    if (out == INVALID_HANDLE_VALUE || !out) return;
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(out, &mode)) {
        // The console's buffer for one call is limited: small pieces.
        for (size_t at = 0; at < lines.size(); at += 4096) {
            DWORD count = static_cast<DWORD>(std::min<size_t>(4096, lines.size() - at));
            if (!WriteConsoleW(out, lines.data() + at, count, &written, nullptr)) return;
        }
        return;
    }
    int size = WideCharToMultiByte(CP_ACP, 0, lines.data(), static_cast<int>(lines.size()), nullptr, 0, nullptr, nullptr);
    if (size <= 0) return;
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_ACP, 0, lines.data(), static_cast<int>(lines.size()), &bytes[0], size, nullptr, nullptr);
    WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}
}  // namespace

void WriteOut(const std::wstring& text) { Write(STD_OUTPUT_HANDLE, text); }
void WriteError(const std::wstring& text) { Write(STD_ERROR_HANDLE, text); }

bool ReadLine(std::wstring& line) {
    line.clear();
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    if (in == INVALID_HANDLE_VALUE || !in) return false;
    DWORD mode = 0, got = 0;
    if (GetConsoleMode(in, &mode)) {
        wchar_t buffer[256];
        for (;;) {
            if (!ReadConsoleW(in, buffer, 256, &got, nullptr) || got == 0) return !line.empty();
            line.append(buffer, got);
            size_t end = line.find(L'\n');
            if (end != std::wstring::npos) {
                line.erase(end);
                break;
            }
        }
    } else {
        std::string bytes;
        char c;
        bool any = false;
        while (ReadFile(in, &c, 1, &got, nullptr) && got == 1) {
            any = true;
            if (c == '\n') break;
            bytes += c;
        }
        if (!any) return false;
        line = FromAnsi(bytes);
    }
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    return true;
}

std::wstring FromAnsi(const std::string& text) {
    if (text.empty()) return std::wstring();
    int size = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (size <= 0) return std::wstring();
    std::wstring out(size, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], size);
    return out;
}

bool ToAnsi(const std::wstring& text, std::string& out) {
    out.clear();
    if (text.empty()) return true;
    BOOL lossy = FALSE;
    int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, &lossy);
    if (size <= 0 || lossy) return false;
    out.assign(size, '\0');
    return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()), &out[0],
                               size, nullptr, &lossy) == size && !lossy;
}

std::wstring Text(UINT id, const std::vector<std::wstring>& arguments) {
    wchar_t buffer[4096] = {};
    if (LoadStringW(GetResourceModule(), id, buffer, 4096) <= 0) return std::wstring();
    std::wstring out;
    for (const wchar_t* p = buffer; *p; ++p) {
        unsigned index = p[0] == L'%' && p[1] >= L'1' && p[1] <= L'9' ? static_cast<unsigned>(p[1] - L'1') : 9;
        if (index < arguments.size()) {
            out += arguments[index];
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}
