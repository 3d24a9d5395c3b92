// Harness.cpp - drives Glidescape.scr from inside Wine for tests/win32/wine-suite.sh.
//
// Each subcommand does one thing and prints what it found, one "key value"
// line at a time, so the bash driver can combine them with xdotool and
// screenshots. Exit code 0 means the subcommand worked, 1 that what it waited
// for did not happen, 2 a usage error.
//
//   idle FILE                     hidden window and message loop; FILE gets its handle
//   run MS CMDLINE                start, wait up to MS, print "exit N" (full 32 bits, signed)
//   launch LOG MS CMDLINE         the same, appending "pid N" and "exit N" to LOG
//   find CLASS TITLE MS [sync]    wait for a visible top-level window ("*" = any);
//                                 print its facts; "sync" also waits until its thread answers
//   sync HWND MS                  wait until the window's thread answers WM_NULL
//   exists HWND                   "exists 1|0"
//   child PARENT MS               wait for a saver-class child of PARENT, print its facts
//   owned OWNER MS                wait for a visible window owned by OWNER, print its facts
//   dialog-get HWND               the dialog's fields, the speed bar's position, the
//                                 Smooth Motion box's check, and each list's (monitors,
//                                 on-battery) selection, item count and item texts
//   dialog-set HWND ID TEXT       set a control's text
//   check HWND ID STATE           check (1) or clear (0) a dialog's check box
//   dialog-fit HWND FACE POINTS   every control's text measured in the dialog's font (FACE at
//                                 POINTS, as the dialog manager makes it) against the control's
//                                 size: "control INDEX ID CLASS fit|cut NEED_W NEED_H HAVE_W
//                                 HAVE_H TEXT", then "overlap INDEX INDEX" for controls that
//                                 overlap (group boxes aside) and "problems N" (cut or
//                                 overlapping)
//   select HWND ID INDEX          select item INDEX of a drop-down list (CB_SETCURSEL)
//   monitors                      the screen's DPI, the virtual screen and each monitor as the
//                                 system lists them ("dpi N", "virtual L T R B",
//                                 "monitor L T R B PRIMARY")
//   command HWND ID               post WM_COMMAND (BN_CLICKED) for control ID
//   scroll HWND CODE [POS]        send WM_HSCROLL from the speed bar; "speed N" (the bar's
//                                 position once the dialog has answered)
//   post HWND MSG WPARAM LPARAM   post a message (numbers; MSG may be a registered name)
//   send HWND MSG WPARAM LPARAM   send it and print "result N"
//   foreground HWND               bring a window to the foreground
//   settext HWND TEXT             set a window's title; "result N" (the WM_SETTEXT answer)
//   display HWND STATE            tell the window the display's state as the system does
//                                 (WM_POWERBROADCAST PBT_POWERSETTINGCHANGE,
//                                 GUID_CONSOLE_DISPLAY_STATE: 0 off, 1 on, 2 dimmed; the
//                                 setting is written into the window's process); prints
//                                 "result N" and "sent_ms T" (the tick count when sent)
//   cursor                        print the cursor position
//   running                       print SPI_GETSCREENSAVERRUNNING
//   fault PID                     start a thread at a bad address in process PID
//   debugger LOG PID EVENT        stand-in for the system's fault debugger (AeDebug):
//                                 appends "debugger PID running FLAG" to LOG (FLAG: the
//                                 saver-running flag at that moment), signals EVENT, attaches
//                                 to nothing
//   kill PID                      end process PID (exit code 98)
//   preview LOG WIDTH HEIGHT CMD  make a WIDTH x HEIGHT parent, start CMD with its handle
//                                 in place of "%H" (else appended); LOG gets "parent H", then the
//                                 saver's exit after the file LOG.destroy appears and the parent is
//                                 destroyed; help and context-menu requests reaching the parent are
//                                 recorded as "parent-got MSG WPARAM LPARAM"
//   stretch RAW W H DW DH OUT     stretches a W x H frame of 32-bit words (row 0 at the bottom,
//                                 as glidescape-render writes it raw) to DW x DH in the
//                                 HALFTONE mode, as the saver shrinks its frame, and writes the
//                                 result to OUT as a binary PPM
//   desktop-preview LOG CMD       the same with this process's desktop window as the parent
//                                 (run inside a Wine virtual desktop of the preview's size:
//                                 the one parent whose children Wine draws on the screen when
//                                 they belong to another process); at LOG.destroy the saver's
//                                 window gets WM_CLOSE
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kSaverClass[] = "WindowsScreenSaverClass";

uintptr_t Number(const char* text) {
    return static_cast<uintptr_t>(_strtoui64(text, nullptr, 0));
}

HWND Handle(const char* text) {
    return reinterpret_cast<HWND>(Number(text));
}

unsigned long long HandleValue(HWND window) {
    return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window));
}

void AppendLine(const char* file, const std::string& line) {
    FILE* f = std::fopen(file, "ab");
    if (f == nullptr) return;
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Pumps this thread's messages for up to `ms`.
void Pump(DWORD ms) {
    const DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } while (GetTickCount() - start < ms);
}

void PrintWindow(const char* label, HWND window) {
    char className[128] = {};
    char title[256] = {};
    GetClassNameA(window, className, sizeof(className));
    GetWindowTextA(window, title, sizeof(title));
    RECT rect = {};
    GetWindowRect(window, &rect);
    RECT client = {};
    GetClientRect(window, &client);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    const LONG style = GetWindowLongA(window, GWL_STYLE);
    const LONG exStyle = GetWindowLongA(window, GWL_EXSTYLE);
    std::printf("%s %llu\n", label, HandleValue(window));
    std::printf("class %s\n", className);
    std::printf("title %s\n", title);
    std::printf("style 0x%08lX\n", static_cast<unsigned long>(style));
    std::printf("exstyle 0x%08lX\n", static_cast<unsigned long>(exStyle));
    std::printf("classstyle 0x%08lX\n",
                static_cast<unsigned long>(GetClassLongA(window, GCL_STYLE)));
    std::printf("rect %ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
    std::printf("client %ld %ld\n", client.right, client.bottom);
    std::printf("visible %d\n", IsWindowVisible(window) ? 1 : 0);
    std::printf("topmost %d\n", (exStyle & WS_EX_TOPMOST) != 0 ? 1 : 0);
    std::printf("pid %lu\n", pid);
    std::printf("foreground %d\n", GetForegroundWindow() == window ? 1 : 0);
    HWND owner = GetWindow(window, GW_OWNER);
    if (owner != nullptr) {
        std::printf("owner %llu\n", HandleValue(owner));
    } else {
        std::printf("owner none\n");
    }
}

bool Sync(HWND window, DWORD ms) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, ms, &result) != 0;
}

struct FindRequest {
    const char* className;
    const char* title;
    HWND owner;
    HWND found;
};

BOOL CALLBACK FindTopLevel(HWND window, LPARAM context) {
    auto* request = reinterpret_cast<FindRequest*>(context);
    if (!IsWindowVisible(window)) return TRUE;
    char className[128] = {};
    char title[256] = {};
    GetClassNameA(window, className, sizeof(className));
    GetWindowTextA(window, title, sizeof(title));
    if (std::strcmp(request->className, "*") != 0 && std::strcmp(request->className, className))
        return TRUE;
    if (std::strcmp(request->title, "*") != 0 && std::strcmp(request->title, title)) return TRUE;
    if (request->owner != nullptr && GetWindow(window, GW_OWNER) != request->owner) return TRUE;
    request->found = window;
    return FALSE;
}

HWND WaitForWindow(const char* className, const char* title, HWND owner, DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        FindRequest request = {className, title, owner, nullptr};
        EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&request));
        if (request.found != nullptr) return request.found;
        if (GetTickCount() - start >= ms) return nullptr;
        Sleep(50);
    }
}

// The error of Start's last refused CreateProcess.
DWORD startError = 0;

// Starts `commandLine`; returns the process handle (and its id) or null.
HANDLE Start(const char* commandLine, DWORD* pid) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) {
        startError = GetLastError();
        std::printf("error CreateProcess %lu\n", startError);
        return nullptr;
    }
    CloseHandle(info.hThread);
    *pid = info.dwProcessId;
    return info.hProcess;
}

// Waits for the process, pumping messages meanwhile; "exit N" or "timeout".
std::string WaitExit(HANDLE process, DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD wait = MsgWaitForMultipleObjects(1, &process, FALSE, 20, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0) break;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (GetTickCount() - start >= ms) {
            TerminateProcess(process, 99);
            WaitForSingleObject(process, 5000);
            return "timeout";
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    char text[64];
    std::snprintf(text, sizeof(text), "exit %ld", static_cast<long>(static_cast<LONG>(code)));
    return text;
}

UINT MessageNumber(const char* text) {
    if (text[0] >= '0' && text[0] <= '9') return static_cast<UINT>(Number(text));
    return RegisterWindowMessageA(text);
}

// Where the preview parent records the help and context-menu requests the
// saver forwards to it.
const char* parentLog = nullptr;

LRESULT CALLBACK PlainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) PostQuitMessage(0);
    if ((message == WM_CONTEXTMENU || message == WM_HELP) && parentLog != nullptr) {
        char line[128];
        std::snprintf(line, sizeof(line), "parent-got %u %llu %lld", message,
                      static_cast<unsigned long long>(wParam), static_cast<long long>(lParam));
        AppendLine(parentLog, line);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeWindow(const char* title, DWORD style, int x, int y, int width, int height) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = PlainProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    windowClass.lpszClassName = "GlidescapeHarness";
    RegisterClassA(&windowClass);
    return CreateWindowExA(0, "GlidescapeHarness", title, style, x, y, width, height, nullptr,
                           nullptr, GetModuleHandleA(nullptr), nullptr);
}

int Idle(const char* file) {
    HWND window = MakeWindow("Glidescape harness idle", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100);
    if (window == nullptr) return 1;
    char text[32];
    std::snprintf(text, sizeof(text), "%llu", HandleValue(window));
    AppendLine(file, text);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

// Starts the preview `command` on `parent` (its handle replaces "%H" or
// follows the command after a blank), records "parent H" and "pid N" in
// `log`, pumps messages until the file LOG.destroy appears or the saver
// ends, then records "ended-before-destroy" or "destroying", calls `end`
// and records the saver's exit.
int RunPreview(const char* log, HWND parent, const char* command, void (*end)(HWND parent)) {
    char line[128];
    std::snprintf(line, sizeof(line), "parent %llu", HandleValue(parent));
    AppendLine(log, line);
    // The parent's handle replaces "%H", or follows the command after a blank.
    std::string commandLine = command;
    std::snprintf(line, sizeof(line), "%llu", HandleValue(parent));
    const std::string::size_type mark = commandLine.find("%H");
    if (mark != std::string::npos) {
        commandLine.replace(mark, 2, line);
    } else {
        commandLine += std::string(" ") + line;
    }
    DWORD pid = 0;
    HANDLE process = Start(commandLine.c_str(), &pid);
    if (process == nullptr) return 1;
    std::snprintf(line, sizeof(line), "pid %lu", pid);
    AppendLine(log, line);
    const std::string destroyFile = std::string(log) + ".destroy";
    const DWORD start = GetTickCount();
    while (!FileExists(destroyFile) && GetTickCount() - start < 240000) {
        Pump(50);
        if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0) break;
    }
    const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    AppendLine(log, ended ? "ended-before-destroy" : "destroying");
    end(parent);
    AppendLine(log, WaitExit(process, 20000));
    CloseHandle(process);
    return 0;
}

int Preview(const char* log, int width, int height, const char* command) {
    parentLog = log;
    HWND parent =
        MakeWindow("Glidescape preview parent", WS_POPUP | WS_VISIBLE, 300, 200, width, height);
    if (parent == nullptr) return 1;
    return RunPreview(log, parent, command, [](HWND window) { DestroyWindow(window); });
}

// The desktop window cannot be destroyed: the saver's window is closed
// instead, which ends a preview as well.
int DesktopPreview(const char* log, const char* command) {
    return RunPreview(log, GetDesktopWindow(), command, [](HWND desktop) {
        HWND saver = FindWindowExA(desktop, nullptr, kSaverClass, nullptr);
        if (saver != nullptr) PostMessageA(saver, WM_CLOSE, 0, 0);
    });
}

HBITMAP CreateDib(int width, int height, uint32_t** pixels) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    *pixels = static_cast<uint32_t*>(bits);
    return bits != nullptr ? bitmap : nullptr;
}

int Stretch(const char* raw, int width, int height, int toWidth, int toHeight, const char* out) {
    if (width <= 0 || height <= 0 || toWidth <= 0 || toHeight <= 0 || width > 16384 ||
        height > 16384 || toWidth > 16384 || toHeight > 16384) {
        return 2;
    }
    uint32_t* source = nullptr;
    uint32_t* target = nullptr;
    HBITMAP sourceBitmap = CreateDib(width, height, &source);
    HBITMAP targetBitmap = CreateDib(toWidth, toHeight, &target);
    FILE* in = std::fopen(raw, "rb");
    const size_t words = static_cast<size_t>(width) * static_cast<size_t>(height);
    const bool read = sourceBitmap != nullptr && targetBitmap != nullptr && in != nullptr &&
                      std::fread(source, 4, words, in) == words;
    if (in != nullptr) std::fclose(in);
    if (!read) return 1;
    HDC from = CreateCompatibleDC(nullptr);
    HDC to = CreateCompatibleDC(nullptr);
    SelectObject(from, sourceBitmap);
    SelectObject(to, targetBitmap);
    SetStretchBltMode(to, HALFTONE);
    SetBrushOrgEx(to, 0, 0, nullptr);
    StretchBlt(to, 0, 0, toWidth, toHeight, from, 0, 0, width, height, SRCCOPY);
    GdiFlush();
    std::vector<unsigned char> rgb;
    rgb.reserve(static_cast<size_t>(toWidth) * static_cast<size_t>(toHeight) * 3u);
    for (int y = toHeight - 1; y >= 0; --y) {
        for (int x = 0; x < toWidth; ++x) {
            const uint32_t pixel = target[static_cast<size_t>(y) * toWidth + x];
            rgb.push_back(static_cast<unsigned char>(pixel >> 16));
            rgb.push_back(static_cast<unsigned char>(pixel >> 8));
            rgb.push_back(static_cast<unsigned char>(pixel));
        }
    }
    DeleteDC(from);
    DeleteDC(to);
    DeleteObject(sourceBitmap);
    DeleteObject(targetBitmap);
    FILE* file = std::fopen(out, "wb");
    if (file == nullptr) return 1;
    std::fprintf(file, "P6\n%d %d\n255\n", toWidth, toHeight);
    const bool written = std::fwrite(rgb.data(), 1, rgb.size(), file) == rgb.size();
    return std::fclose(file) == 0 && written ? 0 : 1;
}

// --- dialog-fit ---------------------------------------------------------------------------

struct FitControl {
    HWND window;
    int id;
    std::string kind;  // "static", "button", "groupbox", "checkbox", "edit", "combobox", ...
    RECT rect;         // screen pixels
    std::wstring text;
};

BOOL CALLBACK CollectControl(HWND window, LPARAM context) {
    auto* controls = reinterpret_cast<std::vector<FitControl>*>(context);
    char className[64] = {};
    GetClassNameA(window, className, sizeof(className));
    // Versioned classes (common controls 6) read "6.0.x.y!Button".
    std::string kind = className;
    const std::string::size_type bang = kind.rfind('!');
    if (bang != std::string::npos) kind = kind.substr(bang + 1);
    for (char& c : kind) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const LONG style = GetWindowLongA(window, GWL_STYLE);
    if (kind == "button" && (style & BS_TYPEMASK) == BS_GROUPBOX) kind = "groupbox";
    if (kind == "button" && ((style & BS_TYPEMASK) == BS_AUTOCHECKBOX ||
                             (style & BS_TYPEMASK) == BS_CHECKBOX)) {
        kind = "checkbox";
    }
    FitControl control = {window, GetDlgCtrlID(window), kind, {}, {}};
    GetWindowRect(window, &control.rect);
    wchar_t text[512] = {};
    DWORD_PTR length = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_NORMAL,
                        5000, &length);
    control.text = text;
    controls->push_back(control);
    return TRUE;
}

std::string Utf8(const std::wstring& text) {
    char out[1024] = {};
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out, sizeof(out), nullptr, nullptr);
    std::string line = out;
    for (char& c : line) {
        if (c == '\n') c = '|';
        if (c == '\r') c = ' ';
    }
    return line;
}

SIZE TextSize(HDC context, const std::wstring& text, UINT flags, int width) {
    RECT rect = {0, 0, width, 0};
    DrawTextW(context, text.c_str(), -1, &rect, flags | DT_CALCRECT | DT_NOPREFIX);
    return {rect.right, rect.bottom};
}

// Room that a control's frame and margins take beside its text: one
// average character on each side for buttons, group-box captions and
// fields; the arrow and a character on each side for drop-down lists; the
// box and a character's gap for check boxes.
int DialogFit(HWND dialog, const char* face, int points) {
    std::vector<FitControl> controls;
    EnumChildWindows(dialog, CollectControl, reinterpret_cast<LPARAM>(&controls));
    HDC context = CreateCompatibleDC(nullptr);
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    wchar_t faceName[LF_FACESIZE] = {};
    MultiByteToWideChar(CP_UTF8, 0, face, -1, faceName, LF_FACESIZE);
    // As the dialog manager makes a DIALOG template's font.
    HFONT font = CreateFontW(-MulDiv(points, dpi, 72), 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE,
                             DEFAULT_CHARSET, 0, 0, PROOF_QUALITY, FF_DONTCARE, faceName);
    SelectObject(context, font);
    TEXTMETRICW metrics = {};
    GetTextMetricsW(context, &metrics);
    const int margin = metrics.tmAveCharWidth;
    std::printf("font %s %d dpi %d height %ld average %ld\n", face, points, dpi, metrics.tmHeight,
                metrics.tmAveCharWidth);
    int problems = 0;
    for (size_t i = 0; i < controls.size(); ++i) {
        const FitControl& control = controls[i];
        RECT client = {};
        GetClientRect(control.window, &client);
        const int haveW = client.right;
        const int haveH = client.bottom;
        SIZE need = {0, 0};
        std::vector<std::wstring> texts = {control.text};
        if (control.kind == "static") {
            // Its lines as they are: a static would break a longer one at a
            // blank and show only what fits its height.
            need = TextSize(context, control.text, DT_LEFT | DT_EXPANDTABS, 0);
        } else if (control.kind == "button" || control.kind == "groupbox" ||
                   control.kind == "edit") {
            need = TextSize(context, control.text, DT_SINGLELINE, 0);
            need.cx += 2 * margin;
            if (control.kind == "groupbox") need.cy = 0;  // the caption sits on the frame
        } else if (control.kind == "checkbox") {
            // The box, a character's gap, then the text.
            need = TextSize(context, control.text, DT_SINGLELINE, 0);
            need.cx += GetSystemMetrics(SM_CXMENUCHECK) + margin;
            need.cy = std::max<LONG>(need.cy, GetSystemMetrics(SM_CYMENUCHECK));
        } else if (control.kind == "combobox") {
            texts.clear();
            const LRESULT items = SendMessageW(control.window, CB_GETCOUNT, 0, 0);
            for (LRESULT item = 0; item < items && item < 32; ++item) {
                wchar_t text[256] = {};
                if (SendMessageW(control.window, CB_GETLBTEXTLEN, item, 0) < 255) {
                    SendMessageW(control.window, CB_GETLBTEXT, item,
                                 reinterpret_cast<LPARAM>(text));
                }
                texts.push_back(text);
                const SIZE size = TextSize(context, text, DT_SINGLELINE, 0);
                need.cx = std::max<LONG>(need.cx, size.cx + 2 * margin +
                                                      GetSystemMetrics(SM_CXVSCROLL));
                need.cy = std::max<LONG>(need.cy, size.cy);
            }
        } else {
            continue;  // scroll bars: no text
        }
        const bool fits = need.cx <= haveW && need.cy <= haveH;
        if (!fits) ++problems;
        std::wstring shown;
        for (const std::wstring& text : texts) shown += (shown.empty() ? L"" : L" / ") + text;
        std::printf("control %zu %d %s %s %ld %ld %d %d %s\n", i, control.id,
                    control.kind.c_str(), fits ? "fit" : "cut", need.cx, need.cy, haveW, haveH,
                    Utf8(shown).c_str());
    }
    for (size_t i = 0; i < controls.size(); ++i) {
        for (size_t j = i + 1; j < controls.size(); ++j) {
            if (controls[i].kind == "groupbox" || controls[j].kind == "groupbox") continue;
            RECT overlap = {};
            if (IntersectRect(&overlap, &controls[i].rect, &controls[j].rect)) {
                std::printf("overlap %zu %zu\n", i, j);
                ++problems;
            }
        }
    }
    std::printf("problems %d\n", problems);
    DeleteDC(context);
    DeleteObject(font);
    return 0;
}

BOOL CALLBACK PrintMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM) {
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    if (GetMonitorInfoA(monitor, &info)) {
        std::printf("monitor %ld %ld %ld %ld %d\n", info.rcMonitor.left, info.rcMonitor.top,
                    info.rcMonitor.right, info.rcMonitor.bottom,
                    (info.dwFlags & MONITORINFOF_PRIMARY) != 0 ? 1 : 0);
    }
    return TRUE;
}

// A drop-down list of the dialog: "NAME selection", "NAME-items N" and
// "NAME-itemI text".
void PrintList(HWND dialog, int id, const char* name) {
    HWND list = GetDlgItem(dialog, id);
    const long items = static_cast<long>(SendMessageA(list, CB_GETCOUNT, 0, 0));
    std::printf("%s %ld\n", name, static_cast<long>(SendMessageA(list, CB_GETCURSEL, 0, 0)));
    std::printf("%s-items %ld\n", name, items);
    for (long i = 0; i < items && i < 16; ++i) {
        // Wide: Wine hands another process's list texts over as UTF-16.
        wchar_t wide[256] = {};
        char text[256] = {};
        if (SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) < 255) {
            SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i),
                         reinterpret_cast<LPARAM>(wide));
            WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof(text), nullptr, nullptr);
        }
        std::printf("%s-item%ld %s\n", name, i, text);
    }
}

// The system hands a power setting's notification over as a pointer into
// the receiving process: the setting is written there first.
int SendDisplayState(HWND window, DWORD state) {
    static const GUID kConsoleDisplayState = {
        0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}};
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, pid);
    if (process == nullptr) return 1;
    unsigned char setting[sizeof(POWERBROADCAST_SETTING) + sizeof(DWORD)] = {};
    auto* header = reinterpret_cast<POWERBROADCAST_SETTING*>(setting);
    header->PowerSetting = kConsoleDisplayState;
    header->DataLength = sizeof(DWORD);
    std::memcpy(setting + offsetof(POWERBROADCAST_SETTING, Data), &state, sizeof(state));
    void* remote = VirtualAllocEx(process, nullptr, sizeof(setting), MEM_COMMIT | MEM_RESERVE,
                                  PAGE_READWRITE);
    int result = 1;
    if (remote != nullptr &&
        WriteProcessMemory(process, remote, setting, sizeof(setting), nullptr)) {
        DWORD_PTR answer = 0;
        const DWORD sent = GetTickCount();
        const BOOL ok = SendMessageTimeoutA(window, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE,
                                            reinterpret_cast<LPARAM>(remote), SMTO_NORMAL, 10000,
                                            &answer);
        std::printf("result %lld\nsent_ms %lu\n", ok ? static_cast<long long>(answer) : -999LL,
                    sent);
        result = ok ? 0 : 1;
    }
    if (remote != nullptr) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return result;
}

int Usage() {
    std::fprintf(stderr, "harness: bad arguments (see tests/win32/Harness.cpp)\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string verb = argv[1];
    // Tells the scripts this run got as far as its verb.
    std::printf("harness %s\n", verb.c_str());
    std::fflush(stdout);
    int result = 0;
    if (verb == "idle" && argc == 3) {
        result = Idle(argv[2]);
    } else if (verb == "run" && argc == 4) {
        DWORD pid = 0;
        HANDLE process = Start(argv[3], &pid);
        if (process == nullptr) return 1;
        std::printf("%s\n", WaitExit(process, static_cast<DWORD>(Number(argv[2]))).c_str());
        CloseHandle(process);
    } else if (verb == "launch" && argc == 5) {
        DWORD pid = 0;
        HANDLE process = Start(argv[4], &pid);
        // Once in a fresh-clone run Wine refused to start a saver right
        // after the one before had ended: a refusal is noted with its code
        // and the start tried twice more before it counts.
        for (int again = 0; process == nullptr && again < 2; ++again) {
            AppendLine(argv[2], "note start refused (error " + std::to_string(startError) +
                                    "), trying again");
            Sleep(500);
            process = Start(argv[4], &pid);
        }
        if (process == nullptr) {
            AppendLine(argv[2], "error start " + std::to_string(startError));
            return 1;
        }
        AppendLine(argv[2], "pid " + std::to_string(pid));
        AppendLine(argv[2], WaitExit(process, static_cast<DWORD>(Number(argv[3]))));
        CloseHandle(process);
    } else if (verb == "find" && (argc == 5 || argc == 6)) {
        const DWORD ms = static_cast<DWORD>(Number(argv[4]));
        const DWORD start = GetTickCount();
        HWND window = WaitForWindow(argv[2], argv[3], nullptr, ms);
        if (window == nullptr) {
            std::printf("window none\n");
            return 1;
        }
        if (argc == 6) {
            const DWORD spent = GetTickCount() - start;
            const bool answered = Sync(window, spent < ms ? ms - spent : 1);
            std::printf("sync %d\n", answered ? 1 : 0);
            std::printf("sync_ms %lu\n", GetTickCount() - start);
        }
        PrintWindow("window", window);
    } else if (verb == "sync" && argc == 4) {
        const DWORD start = GetTickCount();
        const bool answered = Sync(Handle(argv[2]), static_cast<DWORD>(Number(argv[3])));
        std::printf("sync %d\nsync_ms %lu\n", answered ? 1 : 0, GetTickCount() - start);
        result = answered ? 0 : 1;
    } else if (verb == "exists" && argc == 3) {
        std::printf("exists %d\n", IsWindow(Handle(argv[2])) ? 1 : 0);
    } else if (verb == "child" && argc == 4) {
        HWND parent = Handle(argv[2]);
        const DWORD start = GetTickCount();
        HWND child = nullptr;
        while ((child = FindWindowExA(parent, nullptr, kSaverClass, nullptr)) == nullptr ||
               !IsWindowVisible(child)) {
            if (GetTickCount() - start >= Number(argv[3])) {
                std::printf("window none\n");
                return 1;
            }
            Sleep(50);
        }
        PrintWindow("window", child);
        POINT origin = {0, 0};
        MapWindowPoints(child, parent, &origin, 1);
        std::printf("origin %ld %ld\n", origin.x, origin.y);
    } else if (verb == "owned" && argc == 4) {
        HWND window = WaitForWindow("*", "*", Handle(argv[2]), static_cast<DWORD>(Number(argv[3])));
        if (window == nullptr) {
            std::printf("window none\n");
            return 1;
        }
        PrintWindow("window", window);
        char text[512] = {};
        GetDlgItemTextA(window, 0xFFFF, text, sizeof(text));  // a message box's text
        for (char* p = text; *p != '\0'; ++p) {
            if (*p == '\n' || *p == '\r') *p = ' ';
        }
        std::printf("text %s\n", text);
    } else if (verb == "dialog-get" && argc == 3) {
        HWND dialog = Handle(argv[2]);
        for (int id : {1004, 1005, 1006, 1007, 1008, 1009}) {
            char text[128] = {};
            const UINT length = GetDlgItemTextA(dialog, id, text, sizeof(text));
            std::printf("field%d %s\n", id, length > 0 ? text : "<empty>");
        }
        HWND speed = GetDlgItem(dialog, 1000);
        std::printf("speed %ld\n", static_cast<long>(SendMessageA(speed, SBM_GETPOS, 0, 0)));
        std::printf("smooth %d\n", IsDlgButtonChecked(dialog, 1013) == BST_CHECKED ? 1 : 0);
        PrintList(dialog, 1012, "monitors");
        PrintList(dialog, 1014, "on-battery");
    } else if (verb == "dialog-fit" && argc == 5) {
        result = DialogFit(Handle(argv[2]), argv[3], static_cast<int>(Number(argv[4])));
    } else if (verb == "dialog-set" && argc == 5) {
        result =
            SetDlgItemTextA(Handle(argv[2]), static_cast<int>(Number(argv[3])), argv[4]) ? 0 : 1;
    } else if (verb == "check" && argc == 5) {
        // Another process's check box: the message carries no pointer.
        SendDlgItemMessageA(Handle(argv[2]), static_cast<int>(Number(argv[3])), BM_SETCHECK,
                            Number(argv[4]) != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
    } else if (verb == "display" && argc == 4) {
        result = SendDisplayState(Handle(argv[2]), static_cast<DWORD>(Number(argv[3])));
    } else if (verb == "select" && argc == 5) {
        // Another process's list: the selection message carries no pointer.
        const LRESULT selected =
            SendDlgItemMessageA(Handle(argv[2]), static_cast<int>(Number(argv[3])), CB_SETCURSEL,
                                static_cast<WPARAM>(Number(argv[4])), 0);
        result = selected == static_cast<LRESULT>(Number(argv[4])) ? 0 : 1;
    } else if (verb == "monitors" && argc == 2) {
        HDC screen = GetDC(nullptr);
        std::printf("dpi %d\n", GetDeviceCaps(screen, LOGPIXELSY));
        ReleaseDC(nullptr, screen);
        std::printf("virtual %d %d %d %d\n", GetSystemMetrics(SM_XVIRTUALSCREEN),
                    GetSystemMetrics(SM_YVIRTUALSCREEN),
                    GetSystemMetrics(SM_XVIRTUALSCREEN) + GetSystemMetrics(SM_CXVIRTUALSCREEN),
                    GetSystemMetrics(SM_YVIRTUALSCREEN) + GetSystemMetrics(SM_CYVIRTUALSCREEN));
        EnumDisplayMonitors(nullptr, nullptr, PrintMonitor, 0);
    } else if (verb == "command" && argc == 4) {
        HWND dialog = Handle(argv[2]);
        const int id = static_cast<int>(Number(argv[3]));
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
    } else if (verb == "scroll" && (argc == 4 || argc == 5)) {
        HWND dialog = Handle(argv[2]);
        const WORD code = static_cast<WORD>(Number(argv[3]));
        const WORD position = argc == 5 ? static_cast<WORD>(Number(argv[4])) : 0;
        HWND speed = GetDlgItem(dialog, 1000);
        DWORD_PTR answer = 0;
        if (SendMessageTimeoutA(dialog, WM_HSCROLL, MAKEWPARAM(code, position),
                                reinterpret_cast<LPARAM>(speed), SMTO_NORMAL, 10000, &answer)) {
            std::printf("speed %ld\n", static_cast<long>(SendMessageA(speed, SBM_GETPOS, 0, 0)));
        } else {
            std::printf("error %lu\n", GetLastError());
            result = 1;
        }
    } else if (verb == "post" && argc == 6) {
        result = PostMessageA(Handle(argv[2]), MessageNumber(argv[3]), Number(argv[4]),
                              static_cast<LPARAM>(Number(argv[5])))
                     ? 0
                     : 1;
    } else if (verb == "send" && argc == 6) {
        DWORD_PTR answer = 0;
        const BOOL ok =
            SendMessageTimeoutA(Handle(argv[2]), MessageNumber(argv[3]), Number(argv[4]),
                                static_cast<LPARAM>(Number(argv[5])), SMTO_NORMAL, 10000, &answer);
        std::printf("result %lld\n", ok ? static_cast<long long>(answer) : -999LL);
    } else if (verb == "settext" && argc == 4) {
        std::printf("result %d\n", SetWindowTextA(Handle(argv[2]), argv[3]) ? 1 : 0);
    } else if (verb == "foreground" && argc == 3) {
        result = SetForegroundWindow(Handle(argv[2])) ? 0 : 1;
    } else if (verb == "cursor" && argc == 2) {
        POINT point = {};
        GetCursorPos(&point);
        std::printf("cursor %ld %ld\n", point.x, point.y);
    } else if (verb == "running" && argc == 2) {
        BOOL running = FALSE;
        SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &running, 0);
        std::printf("running %d\n", running ? 1 : 0);
    } else if (verb == "fault" && argc == 3) {
        HANDLE process =
            OpenProcess(PROCESS_ALL_ACCESS, FALSE, static_cast<DWORD>(Number(argv[2])));
        if (process == nullptr) return 1;
        // Address 16 is never mapped: the new thread faults at once.
        HANDLE thread = CreateRemoteThread(
            process, nullptr, 0,
            reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(uintptr_t{16})),
            nullptr, 0, nullptr);
        result = thread != nullptr ? 0 : 1;
        if (thread != nullptr) CloseHandle(thread);
        CloseHandle(process);
    } else if (verb == "debugger" && argc == 5) {
        BOOL running = FALSE;
        SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &running, 0);
        AppendLine(argv[2],
                   std::string("debugger ") + argv[3] + " running " + (running ? "1" : "0"));
        // The faulting process waits for this event before it goes on.
        result = SetEvent(Handle(argv[4])) ? 0 : 1;
    } else if (verb == "kill" && argc == 3) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(Number(argv[2])));
        result = process != nullptr && TerminateProcess(process, 98) ? 0 : 1;
        if (process != nullptr) CloseHandle(process);
    } else if (verb == "preview" && argc == 6) {
        result = Preview(argv[2], static_cast<int>(Number(argv[3])),
                         static_cast<int>(Number(argv[4])), argv[5]);
    } else if (verb == "stretch" && argc == 8) {
        result = Stretch(argv[2], static_cast<int>(Number(argv[3])), static_cast<int>(Number(argv[4])),
                         static_cast<int>(Number(argv[5])), static_cast<int>(Number(argv[6])),
                         argv[7]);
    } else if (verb == "desktop-preview" && argc == 4) {
        result = DesktopPreview(argv[2], argv[3]);
    } else {
        return Usage();
    }
    std::fflush(stdout);
    return result;
}
