// CVelmoraApp: the application object. Start-up configures the log, chooses
// the interface language and loads the satellite library, then runs the main
// dialog modally; the program ends when that dialog closes.
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
    // Constructs, runs and destroys the main dialog on the calling thread.
    INT_PTR RunMainDialog();

private:
    static CVelmoraApp* s_app;
    CVelmoraDlg* m_mainWnd = nullptr;
    DWORD m_mainThreadId = 0;
};
