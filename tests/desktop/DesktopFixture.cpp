#include "DesktopFixture.h"

#include "ORRegistryUtil.h"
#include "ResourceModule.h"
#include "resource.h"

using namespace testsupport;
using namespace uidriver;

void DesktopFixture::SetUp() {
    CVelmoraApp::EnableControls();
    ASSERT_TRUE(MakeDirs(home / "EnginePlugins"));
    SetEnv("VELMORA_TEST_CALLS", calls.c_str());
}

void DesktopFixture::TearDown() {
    if (m_thread) {
        // Whatever the test left open goes first, the main window last.
        for (int round = 0; round < 10 && WaitForSingleObject(m_thread, 0) == WAIT_TIMEOUT; ++round) {
            for (HWND dialog : ThreadDialogs(m_threadId))
                if (dialog != Main()) Press(dialog, IDOK), Press(dialog, IDCANCEL);
            if (Main()) Press(Main(), IDOK);
            WaitForSingleObject(m_thread, 1000);
        }
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(m_thread, 10000)) << "the program did not end";
        CloseHandle(m_thread);
        m_thread = nullptr;
    }
    SetResourceModule(nullptr);
    for (const std::string& name : m_env) SetEnvironmentVariableA(name.c_str(), nullptr);
}

void DesktopFixture::SetEnv(const std::string& name, const char* value) {
    SetEnvironmentVariableA(name.c_str(), value);
    m_env.push_back(name);
}

void DesktopFixture::AddPlugIn(const char* target, const std::string& fileName) {
    std::string source = WinePath(VELMORA_TEST_PLUGIN_DIR) + "\\" + target + ".dll";
    ASSERT_TRUE(CopyFileA(source.c_str(), (home / "EnginePlugins\\" + fileName).c_str(), FALSE)) << source;
}

void DesktopFixture::AddMailPlugIns() {
    AddPlugIn("TestPlugInOutlookExpressIds", "oe.dll");
    AddPlugIn("TestPlugInOutlookIds", "ot.dll");
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, "Software\\Microsoft\\Office\\11.0", "Marker", "1"));
}

void DesktopFixture::SetHome() {
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProductKey, "Velmora Home", home.Path()));
}

DWORD WINAPI DesktopFixture::UiThreadProc(void* parameter) {
    static_cast<DesktopFixture*>(parameter)->app.RunMainDialog();
    return 0;
}

void DesktopFixture::Start(bool waitForMainWindow) {
    m_thread = CreateThread(nullptr, 0, UiThreadProc, this, 0, &m_threadId);
    ASSERT_NE(nullptr, m_thread);
    if (waitForMainWindow) ASSERT_TRUE(WaitForMainWindow()) << "the main window did not open";
}

bool DesktopFixture::WaitForMainWindow() {
    return WaitUntil([&] { return Main() && IsWindowVisible(Main()); }, 20000);
}

void DesktopFixture::Close() {
    ASSERT_NE(nullptr, Main());
    Press(Main(), IDOK);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(m_thread, 10000));
    CloseHandle(m_thread);
    m_thread = nullptr;
}

HWND DesktopFixture::Main() const {
    CVelmoraDlg* main = app.GetMainWnd();
    return main ? main->GetHwnd() : nullptr;
}

HWND DesktopFixture::Page(int index) const {
    CVelmoraDlg* main = app.GetMainWnd();
    return main ? main->GetTabCtrl().GetPage(index)->GetHwnd() : nullptr;
}

void DesktopFixture::ShowRestorePage() {
    HWND tab = GetDlgItem(Main(), IDC_MAIN_TAB);
    RECT rect = {};
    TabCtrl_GetItemRect(tab, 1, &rect);
    ClickAt(tab, {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2});
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(Page(1)) && !IsWindowVisible(Page(0)); }));
}

HWND DesktopFixture::ExpectBox(const std::string& caption) {
    HWND box = WaitForThreadWindow(m_threadId, caption);
    EXPECT_NE(nullptr, box) << "no window titled \"" << caption << "\"";
    return box;
}

void DesktopFixture::Dismiss(HWND box, int button) {
    if (!box) return;
    Press(box, button);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box); })) << "the window stayed open";
}

std::vector<std::string> DesktopFixture::Calls() {
    return ReadLines(calls);
}

std::vector<std::string> DesktopFixture::CallsOf(const std::string& exportName) {
    std::vector<std::string> found;
    for (const std::string& line : Calls()) {
        size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string call = line.substr(colon + 1);
        if (call.compare(0, exportName.size(), exportName) == 0 &&
            (call.size() == exportName.size() || call[exportName.size()] == '(' || call[exportName.size()] == ' '))
            found.push_back(line);
    }
    return found;
}
