// CVelmoraApp: the application object. Start-up configures the log, chooses
// the interface language and loads the satellite library, enables the
// backup and restore privileges, then runs the main dialog modally; the
// program ends when that dialog closes, or at once without the privileges.
#pragma once
#include <windows.h>

#include <string>

class CVelmoraDlg;

class CVelmoraApp {
public:
    CVelmoraApp();
    virtual ~CVelmoraApp();
    CVelmoraApp(const CVelmoraApp&) = delete;
    CVelmoraApp& operator=(const CVelmoraApp&) = delete;

    // The start-up steps in order; always false (no message loop follows).
    BOOL InitInstance();

    // The one application object of the process.
    static CVelmoraApp* Get() { return s_app; }
    CVelmoraDlg* GetMainWnd() const { return m_mainWnd; }
    // The thread that runs the main dialog (the splash attaches its input to it).
    DWORD GetMainThreadId() const { return m_mainThreadId; }

    // Step parts, also used on their own by the tests.
    static void EnableControls();
    // "VLLocaleSatellite_KOR.dll" for exactly "KOR", the English one otherwise.
    static const char* SatelliteFileName(const std::string& languageCode);
    // Locale code, overridden by "UI Language".
    static std::string ChooseLanguageCode();
    // "Velmora Home" + "\", or the current directory + "\", or empty.
    static std::string SatelliteDirectory();
    // Loads the satellite library and makes it the resource module; false
    // (and the program's own resources stay) when it cannot be loaded.
    bool LoadSatellite();
    // Enables the backup and restore privileges in the token, which the
    // registry's hive functions need. Without them no registry key could be
    // saved or restored: the user is told so at once, in a message box, and
    // the result is false.
    static bool CheckPrivileges(HANDLE token);
    // Constructs, runs and destroys the main dialog on the calling thread, in
    // a single-threaded COM apartment.
    INT_PTR RunMainDialog();

private:
    static CVelmoraApp* s_app;
    CVelmoraDlg* m_mainWnd = nullptr;
    DWORD m_mainThreadId = 0;
};
