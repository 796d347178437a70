// The debug window on Windows: plain Win32 with a rich edit, created in the thread that calls the
// exports and serviced by that thread's message loop.
#include <windows.h>
// After windows.h, which they need:
#include <commdlg.h>
#include <initguid.h>
#include <oleacc.h>
#include <richedit.h>

#include <cstring>
#include <string>
#include <vector>

#include "debuglog/debug_window.h"

namespace portiva {
namespace {

constexpr int kClientWidth = 557;
constexpr int kClientHeight = 485;
constexpr int kCommandsHeight = 49;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;

enum ControlId { kClear = 101, kMarker, kScrollToEnd, kSave, kLog };

constexpr const char* kClassName = "TForm1";

HWND g_window = nullptr;
HWND g_commands = nullptr;
HWND g_logGroup = nullptr;
HWND g_log = nullptr;
HFONT g_font = nullptr;
bool g_deferred = false;
std::vector<std::pair<LogLevel, std::string>> g_pending;

void Anchor() {}

HINSTANCE ModuleInstance() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&Anchor), &module);
    return module;
}

// The character position after the last character.
LONG EndPosition() {
    GETTEXTLENGTHEX length{GTL_NUMCHARS | GTL_PRECISE, CP_ACP};
    return static_cast<LONG>(
        SendMessageA(g_log, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0));
}

// Appends text at the end in one colour and weight.
void Append(const std::string& text, COLORREF colour, bool bold) {
    if (!g_log) {
        return;
    }
    const LONG position = EndPosition();
    CHARRANGE end{position, position};
    SendMessageA(g_log, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&end));
    CHARFORMAT2A format{};
    format.cbSize = sizeof format;
    format.dwMask = CFM_COLOR | CFM_BOLD | CFM_FACE | CFM_SIZE;
    format.crTextColor = colour;
    format.dwEffects = bold ? CFE_BOLD : 0;
    format.yHeight = 8 * 20; // twips
    std::strcpy(format.szFaceName, "Courier New");
    SendMessageA(g_log, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    SendMessageA(g_log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

COLORREF LevelColour(LogLevel level) {
    switch (level) {
    case LogLevel::Detailed:
        return RGB(255, 255, 0);
    case LogLevel::Dev:
        return RGB(0, 0, 255);
    case LogLevel::Info:
        return RGB(0, 0, 0);
    case LogLevel::Error:
        return RGB(255, 0, 0);
    }
    return RGB(0, 0, 0);
}

std::string Now() {
    char date[128] = {};
    char time[128] = {};
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, sizeof date);
    GetTimeFormatA(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, time, sizeof time);
    return std::string(date) + " " + time;
}

void InsertMarker() {
    std::string marker = "[";
    marker += Now();
    marker += ']';
    marker.append(39, '-');
    marker += "\r\n";
    Append(marker, RGB(0, 128, 0), true);
}

void ScrollToEnd() {
    const LONG position = EndPosition();
    CHARRANGE end{position, position};
    SendMessageA(g_log, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&end));
    SendMessageA(g_log, EM_SCROLLCARET, 0, 0);
    SetFocus(g_log);
}

DWORD CALLBACK WriteRtf(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* written) {
    DWORD done = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(cookie), buffer, static_cast<DWORD>(size), &done,
                   nullptr)) {
        return 1;
    }
    *written = static_cast<LONG>(done);
    return 0;
}

void SaveToFile() {
    char file[MAX_PATH] = {};
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = g_window;
    dialog.lpstrFilter = "*.rtf\0*.rtf\0";
    dialog.lpstrFile = file;
    dialog.nMaxFile = sizeof file;
    dialog.lpstrDefExt = "rtf";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetSaveFileNameA(&dialog)) {
        return;
    }
    HANDLE out =
        CreateFileA(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool saved = false;
    if (out != INVALID_HANDLE_VALUE) {
        EDITSTREAM stream{};
        stream.dwCookie = reinterpret_cast<DWORD_PTR>(out);
        stream.pfnCallback = WriteRtf;
        SendMessageA(g_log, EM_STREAMOUT, SF_RTF, reinterpret_cast<LPARAM>(&stream));
        saved = stream.dwError == 0;
        saved = CloseHandle(out) && saved;
    }
    if (!saved) {
        // A save that fails is said, not swallowed.
        std::string text = "The log could not be saved to\r";
        text += file;
        MessageBoxA(g_window, text.c_str(), "portivadll - debug window", MB_OK | MB_ICONERROR);
    }
}

void Layout(int width, int height) {
    MoveWindow(g_commands, 0, 0, width, kCommandsHeight, TRUE);
    MoveWindow(g_logGroup, 0, kCommandsHeight, width, height - kCommandsHeight, TRUE);
    MoveWindow(g_log, 8, kCommandsHeight + 16, width - 16, height - kCommandsHeight - 24, TRUE);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            switch (LOWORD(wParam)) {
            case kClear:
                SetWindowTextA(g_log, "");
                return 0;
            case kMarker:
                InsertMarker();
                return 0;
            case kScrollToEnd:
                ScrollToEnd();
                return 0;
            case kSave:
                SaveToFile();
                return 0;
            default:
                break;
            }
        }
        break;
    case WM_SIZE:
        if (g_log) {
            Layout(LOWORD(lParam), HIWORD(lParam));
        }
        return 0;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        // The next line opens a new window, starting again with the introduction.
        if (window == g_window) {
            g_window = g_commands = g_logGroup = g_log = nullptr;
        }
        return 0;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND Child(const char* className, const char* text, DWORD style, int id, int x, int y, int width,
           int height) {
    HWND child = CreateWindowExA(
        0, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, g_window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ModuleInstance(), nullptr);
    if (child && g_font) {
        SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(g_font), FALSE);
    }
    return child;
}

// The rich edit has no caption: a screen reader gets a name for it through the accessibility
// property service, where COM is available in this thread.
void NameForScreenReaders(HWND control, const wchar_t* name) {
    IAccPropServices* services = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IAccPropServices, reinterpret_cast<void**>(&services))) &&
        services) {
        services->SetHwndPropStr(control, OBJID_CLIENT, CHILDID_SELF, PROPID_ACC_NAME, name);
        services->Release();
    }
}

bool CreateDebugWindow() {
    static bool registered = false;
    const HINSTANCE instance = ModuleInstance();
    if (!registered) {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = kClassName;
        registered = RegisterClassA(&windowClass) != 0;
        if (!registered && GetLastError() == ERROR_CLASS_ALREADY_EXISTS) {
            // Left behind by an earlier load of this library: its procedure is gone with it.
            registered = UnregisterClassA(kClassName, instance) && RegisterClassA(&windowClass);
        }
        if (!registered) {
            return false;
        }
    }
    static HMODULE richEdit = LoadLibraryA("riched20.dll");
    if (!richEdit) {
        return false;
    }
    if (!g_font) {
        HDC screen = GetDC(nullptr);
        const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
        if (screen) {
            ReleaseDC(nullptr, screen);
        }
        g_font = CreateFontA(-MulDiv(8, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                             DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "MS Sans Serif");
    }
    RECT frame{0, 0, kClientWidth, kClientHeight};
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    AdjustWindowRect(&frame, style, FALSE);
    g_window = CreateWindowExA(0, kClassName, "portivadll - debug window", style, CW_USEDEFAULT,
                               CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                               nullptr, nullptr, instance, nullptr);
    if (!g_window) {
        return false;
    }
    // The group boxes come after the controls they surround, so that they do not paint over them.
    static const char* const kCaptions[] = {"Clear log", "Insert marker", "Scroll To End",
                                            "Save to File"};
    for (int i = 0; i < 4; ++i) {
        Child("BUTTON", kCaptions[i], BS_PUSHBUTTON | WS_TABSTOP, kClear + i,
              8 + i * (kButtonWidth + 8), 16, kButtonWidth, kButtonHeight);
    }
    g_log = Child(RICHEDIT_CLASSA, "",
                  ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_NOHIDESEL |
                      WS_VSCROLL | WS_HSCROLL | WS_BORDER | WS_TABSTOP,
                  kLog, 0, 0, 10, 10);
    g_commands = Child("BUTTON", "Commands", BS_GROUPBOX | WS_CLIPSIBLINGS, 0, 0, 0, 10, 10);
    g_logGroup = Child("BUTTON", "Logfile", BS_GROUPBOX | WS_CLIPSIBLINGS, 0, 0, 0, 10, 10);
    if (!g_log) {
        DestroyWindow(g_window);
        return false;
    }
    SendMessageA(g_log, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
    SendMessageA(g_log, EM_SETTARGETDEVICE, 0, 1); // no word wrap
    NameForScreenReaders(g_log, L"Log");
    Layout(kClientWidth, kClientHeight);
    ShowWindow(g_window, SW_SHOWNORMAL);
    Append("PortivaDll is in debug mode. This enables you to debug its\r\n"
           "functionality, see errors that are not handled\r\n"
           "by your application, ...\r\n",
           RGB(0, 0, 0), false);
    return true;
}

void Show(LogLevel level, const std::string& line) {
    if (!g_window && !CreateDebugWindow()) {
        return;
    }
    Append(line + "\r\n", LevelColour(level), level == LogLevel::Error);
}

} // namespace

void DeferDebugWindow(bool defer) noexcept {
    g_deferred = defer;
}

void DebugWindowAddLine(LogLevel level, const std::string& line) noexcept {
    try {
        if (g_deferred) {
            g_pending.emplace_back(level, line);
            return;
        }
        if (!g_pending.empty()) {
            std::vector<std::pair<LogLevel, std::string>> pending;
            pending.swap(g_pending);
            for (const auto& [pendingLevel, text] : pending) {
                Show(pendingLevel, text);
            }
        }
        Show(level, line);
    } catch (...) {
        // The line is lost; the call goes on.
    }
}

void ForgetDebugWindow(bool libraryFreed) noexcept {
    // The window's procedure lives in this library: when the library is freed while the process
    // goes on, a window left behind would call into unmapped code. It can only be destroyed from
    // the thread that owns it; otherwise, and when the process ends, it is forgotten.
    if (libraryFreed) {
        if (g_window && GetWindowThreadProcessId(g_window, nullptr) == GetCurrentThreadId()) {
            DestroyWindow(g_window);
        }
        // Classes a library registers outlive it unless it takes them back.
        UnregisterClassA(kClassName, ModuleInstance());
        if (g_font) {
            DeleteObject(g_font);
            g_font = nullptr;
        }
    }
    g_window = g_commands = g_logGroup = g_log = nullptr;
    g_pending.clear();
}

} // namespace portiva
