// UI driver of the Wine test bench.
//
// A long-lived console program: the Python bench starts it once per Wine prefix and sends it one
// command per line on stdin; it answers each command with exactly one JSON object on one line on
// stdout. The protocol is described in tests/e2e/README.md.
//
// Every wait has a deadline, and every message sent to another process goes through
// SendMessageTimeoutW, so a hung or modal target never hangs the driver.

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <richedit.h>
#include <psapi.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/json_text.h"
#include "win/handles.h"

namespace {

constexpr UINT kSendTimeoutMs = 5000;
constexpr DWORD kPollMs = 20;

// ---------------------------------------------------------------------------------------------
// Text conversion and JSON output

std::wstring Widen(const std::string& s) {
    if (s.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
    return w;
}

std::string Quote(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

// A JSON string of UTF-16 text, in ASCII only (see test_support::JsonQuoted).
std::string QuoteW(const std::wstring& w) {
    return test_support::JsonQuoted(std::wstring_view(w));
}

// A JSON object built member by member.
class Obj {
public:
    Obj& Str(const char* key, const std::string& v) { return Raw(key, Quote(v)); }
    Obj& WStr(const char* key, const std::wstring& v) { return Raw(key, QuoteW(v)); }
    Obj& Int(const char* key, int64_t v) { return Raw(key, std::to_string(v)); }
    Obj& Bool(const char* key, bool v) { return Raw(key, v ? "true" : "false"); }
    Obj& Raw(const char* key, const std::string& json) {
        if (!m_body.empty()) m_body += ",";
        m_body += Quote(key) + ":" + json;
        return *this;
    }
    std::string Json() const { return "{" + m_body + "}"; }
    const std::string& Body() const { return m_body; }

private:
    std::string m_body;
};

std::string Array(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + items[i];
    return out + "]";
}

std::string HexBytes(const uint8_t* p, size_t n) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(n * 2);
    for (size_t i = 0; i < n; ++i) {
        out += kDigits[p[i] >> 4];
        out += kDigits[p[i] & 15];
    }
    return out;
}

bool ParseHex(const std::string& s, std::vector<uint8_t>& out) {
    if (s.size() % 2) return false;
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    out.clear();
    for (size_t i = 0; i < s.size(); i += 2) {
        int hi = digit(s[i]), lo = digit(s[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return true;
}

// A failed command: the message goes back as {"ok":false,"error":...}.
struct Failure {
    std::string message;
};

[[noreturn]] void Fail(const std::string& message) {
    throw Failure{message};
}

[[noreturn]] void FailWin32(const std::string& what) {
    Fail(what + " failed, error " + std::to_string(GetLastError()));
}

// ---------------------------------------------------------------------------------------------
// Arguments

class Args {
public:
    explicit Args(std::vector<std::string> fields) : m_fields(std::move(fields)) {}
    size_t Count() const { return m_fields.size(); }
    const std::string& Str(size_t i) const {
        if (i >= m_fields.size()) Fail("missing argument " + std::to_string(i));
        return m_fields[i];
    }
    std::wstring WStr(size_t i) const { return Widen(Str(i)); }
    int64_t Int(size_t i) const {
        const std::string& s = Str(i);
        char* end = nullptr;
        long long v = std::strtoll(s.c_str(), &end, 0);
        if (s.empty() || *end) Fail("argument " + std::to_string(i) + " is not a number: " + s);
        return v;
    }
    int64_t Int(size_t i, int64_t fallback) const { return i < m_fields.size() ? Int(i) : fallback; }
    HWND Hwnd(size_t i) const {
        HWND h = reinterpret_cast<HWND>(static_cast<intptr_t>(Int(i)));
        if (!IsWindow(h)) Fail("no such window: " + Str(i));
        return h;
    }

private:
    std::vector<std::string> m_fields;
};

// Splits a line into tab-separated fields; "\t", "\n", "\r" and "\\" escape those characters.
std::vector<std::string> SplitLine(const std::string& line) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '\t') {
            fields.emplace_back();
        } else if (c == '\\' && i + 1 < line.size()) {
            char e = line[++i];
            fields.back() += e == 't' ? '\t' : e == 'n' ? '\n' : e == 'r' ? '\r' : e;
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

// ---------------------------------------------------------------------------------------------
// Windows of other processes

DWORD WindowPid(HWND h) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    return pid;
}

std::wstring ClassOf(HWND h) {
    wchar_t buf[256] = {};
    GetClassNameW(h, buf, 256);
    return buf;
}

// Sends a message with a deadline. Returns false on timeout or when the target is hung.
bool SendWithTimeout(HWND h, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result,
                     UINT timeoutMs = kSendTimeoutMs) {
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutW(h, msg, wp, lp, SMTO_ABORTIFHUNG | SMTO_BLOCK, timeoutMs, &r)) return false;
    result = static_cast<LRESULT>(r);
    return true;
}

LRESULT SendOrFail(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT timeoutMs = kSendTimeoutMs) {
    LRESULT r = 0;
    if (!SendWithTimeout(h, msg, wp, lp, r, timeoutMs))
        Fail("message " + std::to_string(msg) + " failed or timed out (window busy or modal), error " +
             std::to_string(GetLastError()));
    return r;
}

// WM_GETTEXT across processes (Wine and Windows marshal this message).
// The window's text. The length and the text are two messages: a text that grows between them
// (a log being written) fills the buffer, and is then read again with more room, so that a reply
// is never a text cut short by the reading.
std::wstring TextOf(HWND h) {
    LRESULT len = 0;
    if (!SendWithTimeout(h, WM_GETTEXTLENGTH, 0, 0, len)) Fail("WM_GETTEXTLENGTH timed out");
    size_t size = static_cast<size_t>(len) + 64;
    for (;;) {
        std::vector<wchar_t> buf(size, L'\0');
        LRESULT got = 0;
        if (!SendWithTimeout(h, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), got))
            Fail("WM_GETTEXT timed out");
        if (static_cast<size_t>(got) + 1 < size) return std::wstring(buf.data(), static_cast<size_t>(got));
        size *= 2;
    }
}

std::string HwndJson(HWND h) {
    return std::to_string(static_cast<int64_t>(reinterpret_cast<intptr_t>(h)));
}

// A message box: a dialog whose text is the static with id 0xFFFF. The sheet: a dialog with the
// wizard's Next or Finish button as a direct child.
const char* KindOf(HWND h) {
    if (ClassOf(h) != L"#32770") return "window";
    if (GetDlgItem(h, 12324) || GetDlgItem(h, 12325)) return "sheet";
    if (GetDlgItem(h, 0xFFFF)) return "msgbox";
    return "dialog";
}

std::string RectJson(const RECT& r) {
    return Obj().Int("left", r.left).Int("top", r.top).Int("right", r.right).Int("bottom", r.bottom).Json();
}

// The properties of any window, top-level or child.
Obj Describe(HWND h, bool withText = true) {
    Obj o;
    RECT r = {};
    GetWindowRect(h, &r);
    o.Raw("hwnd", HwndJson(h))
        .Int("pid", WindowPid(h))
        .WStr("class", ClassOf(h))
        .Int("id", static_cast<int64_t>(GetWindowLongPtrW(h, GWLP_ID) & 0xFFFF))
        .Bool("visible", IsWindowVisible(h) != FALSE)
        .Bool("enabled", IsWindowEnabled(h) != FALSE)
        .Int("style", static_cast<uint32_t>(GetWindowLongW(h, GWL_STYLE)))
        .Int("exstyle", static_cast<uint32_t>(GetWindowLongW(h, GWL_EXSTYLE)))
        .Raw("rect", RectJson(r))
        .Raw("parent", HwndJson(GetAncestor(h, GA_PARENT)));
    if (withText) {
        LRESULT len = 0;
        if (SendWithTimeout(h, WM_GETTEXTLENGTH, 0, 0, len, 2000))
            o.WStr("text", TextOf(h));
        else
            o.Raw("text", "null");
    }
    return o;
}

Obj DescribeTop(HWND h) {
    Obj o = Describe(h);
    o.Str("kind", KindOf(h));
    HWND owner = GetWindow(h, GW_OWNER);
    o.Raw("owner", HwndJson(owner));
    if (owner) {
        o.Int("owner_pid", WindowPid(owner))
            .WStr("owner_class", ClassOf(owner))
            .Bool("owner_visible", IsWindowVisible(owner) != FALSE);
    }
    return o;
}

struct EnumState {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTop(HWND h, LPARAM lp) {
    auto* st = reinterpret_cast<EnumState*>(lp);
    if (WindowPid(h) == st->pid) st->found.push_back(h);
    return TRUE;
}

std::vector<HWND> TopWindows(DWORD pid) {
    EnumState st{pid, {}};
    EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&st));
    return st.found;
}

BOOL CALLBACK CollectChild(HWND h, LPARAM lp) {
    reinterpret_cast<std::vector<HWND>*>(lp)->push_back(h);
    return TRUE;
}

std::vector<HWND> Descendants(HWND h) {
    std::vector<HWND> all;
    EnumChildWindows(h, CollectChild, reinterpret_cast<LPARAM>(&all));
    return all;
}

HWND CurrentPage(HWND sheet) {
    LRESULT r = 0;
    if (!SendWithTimeout(sheet, PSM_GETCURRENTPAGEHWND, 0, 0, r, 2000)) return nullptr;
    return reinterpret_cast<HWND>(r);
}

// Finds control `id` of a sheet, message box or dialog: a direct child first, then a control of
// the sheet's current page, then any visible descendant. "0" names the window itself and
// "h<number>" a window handle.
HWND FindControl(HWND top, const std::string& idText) {
    if (!idText.empty() && idText[0] == 'h') {
        HWND h = reinterpret_cast<HWND>(static_cast<intptr_t>(std::strtoll(idText.c_str() + 1, nullptr, 0)));
        if (!IsWindow(h)) Fail("no such window: " + idText);
        return h;
    }
    char* end = nullptr;
    long id = std::strtol(idText.c_str(), &end, 0);
    if (idText.empty() || *end) Fail("bad control id: " + idText);
    if (id == 0) return top;
    if (HWND h = GetDlgItem(top, static_cast<int>(id))) return h;
    if (HWND page = CurrentPage(top)) {
        if (HWND h = GetDlgItem(page, static_cast<int>(id))) return h;
        for (HWND h : Descendants(page))
            if ((GetWindowLongPtrW(h, GWLP_ID) & 0xFFFF) == (id & 0xFFFF)) return h;
    }
    for (HWND h : Descendants(top))
        if ((GetWindowLongPtrW(h, GWLP_ID) & 0xFFFF) == (id & 0xFFFF) && IsWindowVisible(h)) return h;
    Fail("no control " + idText + " in window " + HwndJson(top));
}

// ---------------------------------------------------------------------------------------------
// Owners of what the driver opens (win/handles.h has the kernel, file and GDI ones). A failed
// command throws: whatever it holds is given back on the way out.

using UniqueLibrary = win::Unique<win::NullTraits<HMODULE, &FreeLibrary>>;
using UniqueIcon = win::Unique<win::NullTraits<HICON, &DestroyIcon>>;
using UniqueRegKey = win::Unique<win::NullTraits<HKEY, &RegCloseKey>>;
using UniqueGlobal = win::Unique<win::NullTraits<HGLOBAL, &GlobalFree>>;

// Memory allocated in another process (VirtualAllocEx) and freed there again (VirtualFreeEx).
// Move-only, like the handle owners; the process handle is not owned and must outlive it.
class RemoteAllocation {
public:
    RemoteAllocation() noexcept = default;
    RemoteAllocation(HANDLE process, size_t size, DWORD protection) : m_process(process) {
        m_address = static_cast<uint8_t*>(
            VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, protection));
        if (!m_address) FailWin32("VirtualAllocEx");
    }
    ~RemoteAllocation() { Reset(); }
    RemoteAllocation(const RemoteAllocation&) = delete;
    RemoteAllocation& operator=(const RemoteAllocation&) = delete;
    RemoteAllocation(RemoteAllocation&& other) noexcept
        : m_process(other.m_process), m_address(other.Release()) {}
    RemoteAllocation& operator=(RemoteAllocation&& other) noexcept {
        if (this != &other) {
            Reset();
            m_process = other.m_process;
            m_address = other.Release();
        }
        return *this;
    }

    uint8_t* Get() const noexcept { return m_address; }
    explicit operator bool() const noexcept { return m_address != nullptr; }
    // Leaves the memory to the target without freeing it (a thread there may still use it).
    uint8_t* Release() noexcept { return std::exchange(m_address, nullptr); }
    void Reset() noexcept {
        if (uint8_t* old = Release()) VirtualFreeEx(m_process, old, 0, MEM_RELEASE);
    }

private:
    HANDLE m_process = nullptr;
    uint8_t* m_address = nullptr;
};

// OpenProcess, or a failed command.
win::UniqueHandle OpenProcessOrFail(DWORD access, DWORD pid) {
    win::UniqueHandle process(OpenProcess(access, FALSE, pid));
    if (!process) FailWin32("OpenProcess");
    return process;
}

// ---------------------------------------------------------------------------------------------
// Processes started by the driver

std::map<DWORD, win::UniqueHandle> g_processes;
std::map<std::wstring, win::UniqueFile> g_locks;

HANDLE ProcessOf(DWORD pid) {
    auto it = g_processes.find(pid);
    if (it == g_processes.end()) Fail("process " + std::to_string(pid) + " was not started by the driver");
    return it->second.Get();
}

// ---------------------------------------------------------------------------------------------
// Memory in another process, for messages whose parameters point at structures

class RemoteBuffer {
public:
    RemoteBuffer(HWND target, size_t size)
        : m_process(OpenProcessOrFail(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE,
                                      WindowPid(target))),
          m_memory(m_process.Get(), size, PAGE_READWRITE),
          m_size(size) {}

    uintptr_t Address() const { return reinterpret_cast<uintptr_t>(m_memory.Get()); }
    void Write(const std::vector<uint8_t>& bytes) {
        SIZE_T done = 0;
        if (!bytes.empty() &&
            !WriteProcessMemory(m_process.Get(), m_memory.Get(), bytes.data(), bytes.size(), &done))
            FailWin32("WriteProcessMemory");
    }
    std::vector<uint8_t> Read() {
        std::vector<uint8_t> bytes(m_size);
        SIZE_T done = 0;
        if (!ReadProcessMemory(m_process.Get(), m_memory.Get(), bytes.data(), bytes.size(), &done))
            FailWin32("ReadProcessMemory");
        return bytes;
    }

private:
    win::UniqueHandle m_process;  // declared first: freed last
    RemoteAllocation m_memory;
    size_t m_size;
};

// A message parameter: a number, or "buf" / "buf+N" for an address in the remote buffer.
uintptr_t Param(const std::string& s, uintptr_t bufferAddress) {
    if (s.rfind("buf", 0) == 0) {
        uintptr_t offset = s.size() > 4 && s[3] == '+' ? std::strtoul(s.c_str() + 4, nullptr, 0) : 0;
        if (!bufferAddress) Fail("no buffer for parameter " + s);
        return bufferAddress + offset;
    }
    char* end = nullptr;
    long long v = std::strtoll(s.c_str(), &end, 0);
    if (s.empty() || *end) Fail("bad message parameter: " + s);
    return static_cast<uintptr_t>(v);
}

// ---------------------------------------------------------------------------------------------
// Keyboard

struct KeyName {
    const char* name;
    BYTE vk;
    bool extended;
};

const KeyName kKeys[] = {
    {"Escape", VK_ESCAPE, false},  {"Esc", VK_ESCAPE, false},      {"Tab", VK_TAB, false},
    {"Enter", VK_RETURN, false},   {"Return", VK_RETURN, false},   {"Space", VK_SPACE, false},
    {"Backspace", VK_BACK, false}, {"Delete", VK_DELETE, true},    {"Del", VK_DELETE, true},
    {"Insert", VK_INSERT, true},   {"Home", VK_HOME, true},        {"End", VK_END, true},
    {"PageUp", VK_PRIOR, true},    {"PageDown", VK_NEXT, true},    {"Up", VK_UP, true},
    {"Down", VK_DOWN, true},       {"Left", VK_LEFT, true},        {"Right", VK_RIGHT, true},
    {"Ctrl", VK_CONTROL, false},   {"Control", VK_CONTROL, false}, {"Shift", VK_SHIFT, false},
    {"Alt", VK_MENU, false},
};

KeyName LookUpKey(const std::string& name) {
    for (const KeyName& k : kKeys)
        if (lstrcmpiA(k.name, name.c_str()) == 0) return k;
    if (name.size() == 1 && ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= '0' && name[0] <= '9')))
        return {"", static_cast<BYTE>(name[0]), false};
    if (name.size() == 1 && name[0] >= 'a' && name[0] <= 'z')
        return {"", static_cast<BYTE>(name[0] - 'a' + 'A'), false};
    if ((name[0] == 'F' || name[0] == 'f') && name.size() <= 3) {
        int n = std::atoi(name.c_str() + 1);
        if (n >= 1 && n <= 12) return {"", static_cast<BYTE>(VK_F1 + n - 1), false};
    }
    Fail("unknown key: " + name);
}

void KeyEvent(const KeyName& k, bool up) {
    DWORD flags = (k.extended ? KEYEVENTF_EXTENDEDKEY : 0) | (up ? KEYEVENTF_KEYUP : 0);
    keybd_event(k.vk, static_cast<BYTE>(MapVirtualKeyW(k.vk, MAPVK_VK_TO_VSC)), flags, 0);
}

// Presses one chord such as "Alt+F4": every key down in order, then up in reverse order.
void PressChord(const std::string& chord) {
    std::vector<KeyName> keys;
    size_t start = 0;
    while (start <= chord.size()) {
        size_t plus = chord.find('+', start);
        if (plus == start) plus = chord.find('+', start + 1);  // a chord may end in the key "+"
        std::string part = chord.substr(start, plus == std::string::npos ? std::string::npos : plus - start);
        if (part.empty()) Fail("bad key chord: " + chord);
        keys.push_back(LookUpKey(part));
        if (plus == std::string::npos) break;
        start = plus + 1;
    }
    for (const KeyName& k : keys) KeyEvent(k, false);
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) KeyEvent(*it, true);
}

// ---------------------------------------------------------------------------------------------
// Pixels from the screen

struct Capture {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;  // 0x00RRGGBB, rows top down
};

// A 32-bit top-down DIB section of the given size, and where its pixels are.
win::UniqueBitmap CreateDib(HDC screen, int width, int height, const uint32_t*& pixels) {
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    win::UniqueBitmap bitmap(CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap) FailWin32("CreateDIBSection");
    pixels = static_cast<const uint32_t*>(bits);
    return bitmap;
}

// The pixels of a DIB of CreateDib, as 0x00RRGGBB.
std::vector<uint32_t> DibPixels(const uint32_t* bits, int width, int height) {
    GdiFlush();
    std::vector<uint32_t> pixels(bits, bits + static_cast<size_t>(width) * static_cast<size_t>(height));
    for (uint32_t& px : pixels) px &= 0xFFFFFF;
    return pixels;
}

Capture CaptureScreen(const RECT& r) {
    Capture c;
    c.width = r.right - r.left;
    c.height = r.bottom - r.top;
    if (c.width <= 0 || c.height <= 0) Fail("empty rectangle");
    win::WindowDc screen(nullptr);
    win::UniqueMemoryDc mem(CreateCompatibleDC(screen.Get()));
    if (!mem) FailWin32("CreateCompatibleDC");
    const uint32_t* bits = nullptr;
    win::UniqueBitmap bitmap = CreateDib(screen.Get(), c.width, c.height, bits);
    win::ScopedSelect select(mem.Get(), bitmap.Get());
    if (!BitBlt(mem.Get(), 0, 0, c.width, c.height, screen.Get(), r.left, r.top, SRCCOPY))
        Fail("BitBlt from the screen failed");
    c.pixels = DibPixels(bits, c.width, c.height);
    return c;
}

std::string PixelHex(const Capture& c) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(c.pixels.size() * 6);
    for (uint32_t px : c.pixels)
        for (int shift = 20; shift >= 0; shift -= 4) out += kDigits[(px >> shift) & 15];
    return out;
}

// Renders an icon resource of a program file onto a black and onto a white square, so that a
// caller can tell its opaque pixels (equal on both) from its transparent ones.
std::string RenderIcon(const std::wstring& file, int id, int loadSize, int size) {
    if (size <= 0) Fail("bad icon size");
    UniqueLibrary mod(LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!mod) FailWin32("LoadLibraryExW");
    UniqueIcon icon(
        static_cast<HICON>(LoadImageW(mod.Get(), MAKEINTRESOURCEW(id), IMAGE_ICON, loadSize, loadSize, 0)));
    if (!icon) FailWin32("LoadImageW");
    std::string result[2];
    win::WindowDc screen(nullptr);
    for (int pass = 0; pass < 2; ++pass) {
        win::UniqueMemoryDc mem(CreateCompatibleDC(screen.Get()));
        if (!mem) FailWin32("CreateCompatibleDC");
        const uint32_t* bits = nullptr;
        win::UniqueBitmap bitmap = CreateDib(screen.Get(), size, size, bits);
        win::ScopedSelect select(mem.Get(), bitmap.Get());
        RECT all = {0, 0, size, size};
        FillRect(mem.Get(), &all, static_cast<HBRUSH>(GetStockObject(pass ? WHITE_BRUSH : BLACK_BRUSH)));
        DrawIconEx(mem.Get(), 0, 0, icon.Get(), size, size, 0, nullptr, DI_NORMAL);
        Capture c;
        c.width = c.height = size;
        c.pixels = DibPixels(bits, size, size);
        result[pass] = PixelHex(c);
    }
    return Obj().Int("size", size).Str("on_black", result[0]).Str("on_white", result[1]).Json();
}

// ---------------------------------------------------------------------------------------------
// Commands

using Handler = std::string (*)(const Args&);

std::string Ok(const Obj& o = Obj()) {
    return "{\"ok\":true" + (o.Body().empty() ? "" : "," + o.Body()) + "}";
}

std::string CmdHello(const Args&) {
    return Ok(Obj().Int("protocol", 1).Int("pid", GetCurrentProcessId()));
}

// Pixels per logical inch of the screen, vertically (LOGPIXELSY): what point sizes are converted with.
int ScreenDpi() {
    win::WindowDc screen(nullptr);
    return GetDeviceCaps(screen.Get(), LOGPIXELSY);
}

std::string CmdSysInfo(const Args&) {
    OSVERSIONINFOEXW vi = {};
    vi.dwOSVersionInfoSize = sizeof vi;
    GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&vi));
    BOOL wow64 = FALSE;
    using IsWow64Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto fn = reinterpret_cast<IsWow64Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
    if (fn) fn(GetCurrentProcess(), &wow64);
    wchar_t sys[MAX_PATH] = {}, win[MAX_PATH] = {}, cwd[MAX_PATH] = {};
    GetSystemDirectoryW(sys, MAX_PATH);
    GetWindowsDirectoryW(win, MAX_PATH);
    GetCurrentDirectoryW(MAX_PATH, cwd);
    TIME_ZONE_INFORMATION tz = {};
    GetTimeZoneInformation(&tz);
    return Ok(Obj()
                  .Int("acp", GetACP())
                  .Int("oemcp", GetOEMCP())
                  .Int("user_lcid", GetUserDefaultLCID())
                  .Int("system_lcid", GetSystemDefaultLCID())
                  .Int("major", vi.dwMajorVersion)
                  .Int("minor", vi.dwMinorVersion)
                  .Int("build", vi.dwBuildNumber)
                  .Int("platform", vi.dwPlatformId)
                  .Int("product_type", vi.wProductType)
                  .Int("sp_major", vi.wServicePackMajor)
                  .Bool("wow64", wow64 != FALSE)
                  .WStr("system_dir", sys)
                  .WStr("windows_dir", win)
                  .WStr("cwd", cwd)
                  .Int("tz_bias", tz.Bias)
                  .Int("logical_drives", GetLogicalDrives())
                  .Int("dpi", ScreenDpi())
                  .Int("screen_width", GetSystemMetrics(SM_CXSCREEN))
                  .Int("screen_height", GetSystemMetrics(SM_CYSCREEN)));
}

// The driver's environment with NAME=VALUE lines set on top, as a CreateProcessW block.
std::vector<wchar_t> EnvironmentWith(const std::wstring& assignments) {
    std::map<std::wstring, std::wstring> vars;  // keyed by upper-case name
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* p = block; *p; p += std::wcslen(p) + 1) {
        std::wstring entry = p;
        size_t eq = entry.find(L'=', 1);
        std::wstring key = entry.substr(0, eq);
        CharUpperW(&key[0]);
        vars[key] = entry;
    }
    FreeEnvironmentStringsW(block);
    size_t start = 0;
    while (start < assignments.size()) {
        size_t end = assignments.find(L'\n', start);
        std::wstring entry =
            assignments.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        start = end == std::wstring::npos ? assignments.size() : end + 1;
        size_t eq = entry.find(L'=', 1);
        if (eq == std::wstring::npos) continue;
        std::wstring key = entry.substr(0, eq);
        CharUpperW(&key[0]);
        vars[key] = entry;
    }
    std::vector<wchar_t> out;
    for (const auto& kv : vars) {
        out.insert(out.end(), kv.second.begin(), kv.second.end());
        out.push_back(L'\0');
    }
    out.push_back(L'\0');
    return out;
}

// start <exe> <current folder> [command-line tail] [NAME=VALUE lines for the environment]
std::string CmdStart(const Args& a) {
    std::wstring exe = a.WStr(1), cwd = a.WStr(2);
    std::wstring cmdline = L"\"" + exe + L"\"";
    if (a.Count() > 3 && !a.Str(3).empty()) cmdline += L" " + a.WStr(3);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::vector<wchar_t> buf(cmdline.begin(), cmdline.end());
    buf.push_back(L'\0');
    std::vector<wchar_t> env;
    if (a.Count() > 4 && !a.Str(4).empty()) env = EnvironmentWith(a.WStr(4));
    if (!CreateProcessW(exe.c_str(), buf.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                        env.empty() ? nullptr : env.data(), cwd.empty() ? nullptr : cwd.c_str(), &si, &pi))
        FailWin32("CreateProcessW");
    win::UniqueHandle thread(pi.hThread);
    g_processes[pi.dwProcessId] = win::UniqueHandle(pi.hProcess);
    return Ok(Obj().Int("pid", pi.dwProcessId));
}

std::string ExitState(DWORD pid) {
    DWORD code = 0;
    GetExitCodeProcess(ProcessOf(pid), &code);
    return Ok(Obj().Bool("exited", true).Int("code", code));
}

// wait-exit <pid> <timeout ms>
std::string CmdWaitExit(const Args& a) {
    DWORD pid = static_cast<DWORD>(a.Int(1));
    DWORD r = WaitForSingleObject(ProcessOf(pid), static_cast<DWORD>(a.Int(2, 10000)));
    if (r == WAIT_TIMEOUT) Fail("timeout: process " + std::to_string(pid) + " still running");
    if (r != WAIT_OBJECT_0) FailWin32("WaitForSingleObject");
    return ExitState(pid);
}

// exit-code <pid>: the state without waiting.
std::string CmdExitCode(const Args& a) {
    DWORD pid = static_cast<DWORD>(a.Int(1));
    if (WaitForSingleObject(ProcessOf(pid), 0) == WAIT_TIMEOUT) return Ok(Obj().Bool("exited", false));
    return ExitState(pid);
}

std::string CmdKill(const Args& a) {
    DWORD pid = static_cast<DWORD>(a.Int(1));
    HANDLE h = ProcessOf(pid);
    if (WaitForSingleObject(h, 0) == WAIT_TIMEOUT) {
        TerminateProcess(h, 0xDEAD);
        WaitForSingleObject(h, 5000);
    }
    return ExitState(pid);
}

// windows <pid> [deep]: the process's top-level windows, and with "deep" every descendant too.
std::string CmdWindows(const Args& a) {
    DWORD pid = static_cast<DWORD>(a.Int(1));
    bool deep = a.Count() > 2 && a.Str(2) == "deep";
    std::vector<std::string> items;
    for (HWND h : TopWindows(pid)) {
        Obj o = DescribeTop(h);
        if (deep) {
            std::vector<std::string> kids;
            for (HWND c : Descendants(h)) kids.push_back(Describe(c, false).Json());
            o.Raw("descendants", Array(kids));
        }
        items.push_back(o.Json());
    }
    return Ok(Obj().Raw("windows", Array(items)));
}

// wait-window <pid> <sheet|msgbox|dialog|any> <timeout ms> [hwnd to skip,...]
// Waits for a visible top-level dialog (class #32770) of the process.
std::string CmdWaitWindow(const Args& a) {
    DWORD pid = static_cast<DWORD>(a.Int(1));
    std::string kind = a.Str(2);
    DWORD timeout = static_cast<DWORD>(a.Int(3, 10000));
    std::string skip = a.Count() > 4 ? "," + a.Str(4) + "," : "";
    DWORD start = GetTickCount();
    for (;;) {
        for (HWND h : TopWindows(pid)) {
            if (!IsWindowVisible(h) || ClassOf(h) != L"#32770") continue;
            if (!skip.empty() && skip.find("," + HwndJson(h) + ",") != std::string::npos) continue;
            if (kind != "any" && kind != KindOf(h)) continue;
            Obj o = DescribeTop(h);
            if (IsWindow(h) && IsWindowVisible(h)) return Ok(o);  // not closed while being read
        }
        auto it = g_processes.find(pid);
        if (it != g_processes.end() && WaitForSingleObject(it->second.Get(), 0) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(it->second.Get(), &code);
            Fail("process exited with code " + std::to_string(code) + " before a " + kind + " appeared");
        }
        if (GetTickCount() - start >= timeout)
            Fail("timeout: no " + kind + " window of process " + std::to_string(pid));
        Sleep(kPollMs);
    }
}

std::string CmdWindow(const Args& a) {
    return Ok(DescribeTop(a.Hwnd(1)).Bool("exists", true));
}

// icons <window>: the icons set on the window (WM_GETICON) and on its class. Under Wine 8,
// WM_GETICON sent to another process fails (error 6), which is reported as null.
std::string CmdIcons(const Args& a) {
    HWND h = a.Hwnd(1);
    Obj o;
    const char* names[] = {"icon_small", "icon_big", "icon_small2"};
    for (UINT which = 0; which < 3; ++which) {
        LRESULT r = 0;
        if (SendWithTimeout(h, WM_GETICON, which, 0, r, 2000))
            o.Int(names[which], static_cast<int64_t>(r));
        else
            o.Raw(names[which], "null");
    }
    o.Int("class_icon", static_cast<int64_t>(GetClassLongPtrW(h, GCLP_HICON)))
        .Int("class_icon_small", static_cast<int64_t>(GetClassLongPtrW(h, GCLP_HICONSM)));
    return Ok(o);
}

std::string CmdExists(const Args& a) {
    HWND h = reinterpret_cast<HWND>(static_cast<intptr_t>(a.Int(1)));
    return Ok(Obj().Bool("exists", IsWindow(h) != FALSE));
}

// control <window> <id>
std::string CmdControl(const Args& a) {
    HWND c = FindControl(a.Hwnd(1), a.Str(2));
    return Ok(Describe(c));
}

std::string CmdIsEnabled(const Args& a) {
    HWND c = FindControl(a.Hwnd(1), a.Str(2));
    return Ok(
        Obj().Bool("enabled", IsWindowEnabled(c) != FALSE).Bool("visible", IsWindowVisible(c) != FALSE));
}

// page <sheet>: index and window of the current page.
std::string CmdPage(const Args& a) {
    HWND sheet = a.Hwnd(1);
    HWND page = reinterpret_cast<HWND>(SendOrFail(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
    if (!page) Fail("the sheet has no current page");
    LRESULT index = SendOrFail(sheet, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(page), 0);
    return Ok(Obj().Int("index", index).Raw("page", HwndJson(page)).WStr("page_text", TextOf(page)));
}

// click <window> <id>: posts BM_CLICK (a posted click cannot block on a modal box it opens).
std::string CmdClick(const Args& a) {
    HWND c = FindControl(a.Hwnd(1), a.Str(2));
    bool enabled = IsWindowEnabled(c) != FALSE;
    if (!PostMessageW(c, BM_CLICK, 0, 0)) FailWin32("PostMessageW");
    return Ok(Obj().Bool("enabled", enabled));
}

// press <sheet> <PSBTN_ value>
std::string CmdPress(const Args& a) {
    if (!PostMessageW(a.Hwnd(1), PSM_PRESSBUTTON, static_cast<WPARAM>(a.Int(2)), 0))
        FailWin32("PostMessageW");
    return Ok();
}

std::string CmdSetText(const Args& a) {
    HWND c = FindControl(a.Hwnd(1), a.Str(2));
    std::wstring text = a.WStr(3);
    LRESULT r = SendOrFail(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    return Ok(Obj().Int("result", r));
}

// type <window> <id> <text>: one WM_CHAR per UTF-16 unit, sent, so that it is processed on return.
std::string CmdType(const Args& a) {
    HWND c = FindControl(a.Hwnd(1), a.Str(2));
    for (wchar_t ch : a.WStr(3)) SendOrFail(c, WM_CHAR, static_cast<WPARAM>(ch), 1);
    return Ok();
}

// post-chars <window> <id> <text>: the same through the message queue.
std::string CmdPostChars(const Args& a) {
    HWND c = FindControl(a.Hwnd(1), a.Str(2));
    for (wchar_t ch : a.WStr(3))
        if (!PostMessageW(c, WM_CHAR, static_cast<WPARAM>(ch), 1)) FailWin32("PostMessageW");
    return Ok();
}

// keys <window> <chord> [<chord>...]: real keystrokes to the window brought to the foreground.
std::string CmdKeys(const Args& a) {
    HWND h = a.Hwnd(1);
    SetForegroundWindow(h);
    DWORD start = GetTickCount();
    while (GetForegroundWindow() != h && GetTickCount() - start < 2000) Sleep(kPollMs);
    bool foreground = GetForegroundWindow() == h;
    for (size_t i = 2; i < a.Count(); ++i) {
        PressChord(a.Str(i));
        Sleep(30);
    }
    return Ok(Obj().Bool("foreground", foreground));
}

// focus <window> <id>: SetFocus on another thread's control through attached input.
std::string CmdFocus(const Args& a) {
    HWND top = a.Hwnd(1);
    HWND c = FindControl(top, a.Str(2));
    SetForegroundWindow(top);
    DWORD target = GetWindowThreadProcessId(c, nullptr);
    DWORD self = GetCurrentThreadId();
    bool attached = AttachThreadInput(self, target, TRUE) != FALSE;
    SetFocus(c);
    HWND now = GetFocus();
    if (attached) AttachThreadInput(self, target, FALSE);
    return Ok(Obj().Bool("focused", now == c));
}

// send <window> <id> <msg> <wparam> <lparam> [timeout ms]
std::string CmdSend(const Args& a) {
    HWND c = FindControl(a.Hwnd(1), a.Str(2));
    LRESULT r = SendOrFail(c, static_cast<UINT>(a.Int(3)), Param(a.Str(4), 0), Param(a.Str(5), 0),
                           static_cast<UINT>(a.Int(6, kSendTimeoutMs)));
    return Ok(Obj().Int("result", static_cast<int64_t>(r)).Int("uresult", static_cast<uint32_t>(r)));
}

std::string CmdPost(const Args& a) {
    HWND c = FindControl(a.Hwnd(1), a.Str(2));
    if (!PostMessageW(c, static_cast<UINT>(a.Int(3)), Param(a.Str(4), 0), Param(a.Str(5), 0)))
        FailWin32("PostMessageW");
    return Ok();
}

// sendbuf <window> <id> <msg> <wparam> <lparam> <hex bytes in> <buffer size> [auto|local|remote]
// Sends a message whose "buf" / "buf+N" parameters point into a buffer filled with the given
// bytes, and returns the buffer afterwards. System messages (below WM_USER) with pointers are
// marshalled by the system, so their buffer lives in the driver ("local"); for private messages,
// such as the rich edit's EM_GETCHARFORMAT, it is allocated in the window's process ("remote").
std::string CmdSendBuf(const Args& a) {
    HWND c = FindControl(a.Hwnd(1), a.Str(2));
    UINT msg = static_cast<UINT>(a.Int(3));
    std::vector<uint8_t> in;
    if (!ParseHex(a.Str(6), in)) Fail("bad hex buffer");
    size_t size = static_cast<size_t>(a.Int(7, static_cast<int64_t>(in.size())));
    if (size < in.size()) size = in.size();
    if (size == 0) size = 1;
    std::string where = a.Count() > 8 ? a.Str(8) : "auto";
    bool local = where == "local" || (where == "auto" && msg < WM_USER);
    std::vector<uint8_t> out;
    LRESULT r = 0;
    if (local) {
        std::vector<uint8_t> buf(in);
        buf.resize(size);
        uintptr_t address = reinterpret_cast<uintptr_t>(buf.data());
        r = SendOrFail(c, msg, Param(a.Str(4), address), Param(a.Str(5), address));
        out = buf;
    } else {
        RemoteBuffer buf(c, size);
        buf.Write(in);
        r = SendOrFail(c, msg, Param(a.Str(4), buf.Address()), Param(a.Str(5), buf.Address()));
        out = buf.Read();
    }
    return Ok(Obj()
                  .Int("result", static_cast<int64_t>(r))
                  .Int("uresult", static_cast<uint32_t>(r))
                  .Str("buffer", HexBytes(out.data(), out.size())));
}

// The answer of the pixel commands: the screen's pixels inside `r`.
std::string PixelsReply(const RECT& r) {
    Capture cap = CaptureScreen(r);
    return Ok(Obj()
                  .Raw("rect", RectJson(r))
                  .Int("width", cap.width)
                  .Int("height", cap.height)
                  .Str("rgb", PixelHex(cap)));
}

// pixels <window> <id> [window|client]: the control's rectangle read from the screen.
std::string CmdPixels(const Args& a) {
    HWND c = FindControl(a.Hwnd(1), a.Str(2));
    RECT r = {};
    if (a.Count() > 3 && a.Str(3) == "client") {
        GetClientRect(c, &r);
        MapWindowPoints(c, nullptr, reinterpret_cast<POINT*>(&r), 2);
    } else {
        GetWindowRect(c, &r);
    }
    return PixelsReply(r);
}

// screen-pixels <left> <top> <right> <bottom>
std::string CmdScreenPixels(const Args& a) {
    RECT r = {static_cast<LONG>(a.Int(1)), static_cast<LONG>(a.Int(2)), static_cast<LONG>(a.Int(3)),
              static_cast<LONG>(a.Int(4))};
    return PixelsReply(r);
}

// icon-resource <program file> <id> <image size> [<drawn size>]: the image of that size from the
// icon group, drawn at its own or another size (as a title bar draws a large icon small).
std::string CmdIconResource(const Args& a) {
    int loadSize = static_cast<int>(a.Int(3));
    return Ok(Obj().Raw("icon", RenderIcon(a.WStr(1), static_cast<int>(a.Int(2)), loadSize,
                                           static_cast<int>(a.Int(4, loadSize)))));
}

// watch-exit <pid> <timeout ms>: waits for the process to end and reports every top-level window
// seen on the way (polled, so a window that lives for less than a few milliseconds may be missed).
std::string CmdWatchExit(const Args& a) {
    DWORD pid = static_cast<DWORD>(a.Int(1));
    HANDLE process = ProcessOf(pid);
    DWORD timeout = static_cast<DWORD>(a.Int(2, 10000));
    DWORD start = GetTickCount();
    std::map<HWND, std::string> seen;
    for (;;) {
        for (HWND h : TopWindows(pid)) {
            bool visible = IsWindowVisible(h) != FALSE;
            auto it = seen.find(h);
            if (it == seen.end() || visible)
                seen[h] =
                    Obj().Raw("hwnd", HwndJson(h)).WStr("class", ClassOf(h)).Bool("visible", visible).Json();
        }
        if (WaitForSingleObject(process, 2) == WAIT_OBJECT_0) break;
        if (GetTickCount() - start >= timeout)
            Fail("timeout: process " + std::to_string(pid) + " still running");
    }
    std::vector<std::string> items;
    for (const auto& kv : seen) items.push_back(kv.second);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return Ok(Obj().Int("code", code).Raw("windows", Array(items)));
}

// probe <window> [timeout ms]: does the window's thread answer a sent WM_NULL?
std::string CmdProbe(const Args& a) {
    LRESULT r = 0;
    DWORD start = GetTickCount();
    bool answered = SendWithTimeout(a.Hwnd(1), WM_NULL, 0, 0, r, static_cast<UINT>(a.Int(2, 2000)));
    return Ok(Obj().Bool("responsive", answered).Int("ms", GetTickCount() - start));
}

// lock <file>: opens the file for reading without sharing and keeps it open until unlock.
std::string CmdLock(const Args& a) {
    std::wstring path = a.WStr(1);
    if (g_locks.count(path)) Fail("already locked");
    win::UniqueFile file(
        CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) FailWin32("CreateFileW");
    g_locks[path] = std::move(file);
    return Ok();
}

std::string CmdUnlock(const Args& a) {
    auto it = g_locks.find(a.WStr(1));
    if (it == g_locks.end()) Fail("not locked");
    g_locks.erase(it);  // closes the file
    return Ok();
}

// can-open <file>: whether another opener without sharing succeeds now (error code if not).
std::string CmdCanOpen(const Args& a) {
    win::UniqueFile file(CreateFileW(a.WStr(1).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return Ok(Obj().Bool("open", false).Int("error", GetLastError()));
    return Ok(Obj().Bool("open", true));
}

std::string CmdSleep(const Args& a) {
    Sleep(static_cast<DWORD>(a.Int(1)));
    return Ok();
}

// reg-dump <HKCU|HKLM> <subkey>: every key and value below a registry key, one string per value
// ("key\tname\ttype\thex data") or per key without values ("key"), for before/after comparisons.
void DumpKey(HKEY key, const std::wstring& path, std::vector<std::string>& out) {
    std::vector<std::string> values;
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD nameLen = 16384, type = 0, dataLen = 0;
        LONG r = RegEnumValueW(key, i, name, &nameLen, nullptr, &type, nullptr, &dataLen);
        if (r != ERROR_SUCCESS) break;
        std::vector<uint8_t> data(dataLen + 2);
        nameLen = 16384;
        DWORD size = dataLen;
        if (RegEnumValueW(key, i, name, &nameLen, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) break;
        values.push_back(QuoteW(path + L"\t" + name + L"\t" + std::to_wstring(type) + L"\t" +
                                Widen(HexBytes(data.data(), size))));
    }
    if (values.empty()) out.push_back(QuoteW(path));
    out.insert(out.end(), values.begin(), values.end());
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLen = 256;
        if (RegEnumKeyExW(key, i, name, &nameLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        HKEY opened = nullptr;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, &opened) != ERROR_SUCCESS) continue;
        UniqueRegKey sub(opened);
        DumpKey(sub.Get(), path + L"\\" + name, out);
    }
}

std::string CmdRegDump(const Args& a) {
    HKEY root = a.Str(1) == "HKLM" ? HKEY_LOCAL_MACHINE : a.Str(1) == "HKCU" ? HKEY_CURRENT_USER : nullptr;
    if (!root) Fail("root must be HKCU or HKLM");
    std::wstring path = a.WStr(2);
    HKEY opened = nullptr;
    // Registry functions return their error instead of setting the last error.
    if (LONG error = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &opened); error != ERROR_SUCCESS)
        Fail("RegOpenKeyExW failed, error " + std::to_string(error));
    UniqueRegKey key(opened);
    std::vector<std::string> out;
    DumpKey(key.Get(), a.WStr(1) + L"\\" + path, out);
    return Ok(Obj().Raw("entries", Array(out)));
}

// syscolors: the system colours that painted controls use (COLORREF values, 0x00BBGGRR).
std::string CmdSysColors(const Args&) {
    return Ok(Obj()
                  .Int("highlight", GetSysColor(COLOR_HIGHLIGHT))
                  .Int("highlight_text", GetSysColor(COLOR_HIGHLIGHTTEXT))
                  .Int("window", GetSysColor(COLOR_WINDOW))
                  .Int("window_text", GetSysColor(COLOR_WINDOWTEXT))
                  .Int("button_face", GetSysColor(COLOR_BTNFACE)));
}

// redraw <window> <id> [<left> <top> <right> <bottom>]: invalidates the whole control, or that
// rectangle of its client area, with erasing (RedrawWindow RDW_INVALIDATE | RDW_ERASE), so that its
// own thread repaints that part of it.
std::string CmdRedraw(const Args& a) {
    HWND c = FindControl(a.Hwnd(1), a.Str(2));
    RECT r = {};
    const RECT* part = nullptr;
    if (a.Count() > 6) {
        r = {static_cast<LONG>(a.Int(3)), static_cast<LONG>(a.Int(4)), static_cast<LONG>(a.Int(5)),
             static_cast<LONG>(a.Int(6))};
        part = &r;
    }
    if (!RedrawWindow(c, part, nullptr, RDW_INVALIDATE | RDW_ERASE)) FailWin32("RedrawWindow");
    return Ok();
}

// move <window> <left> <top>: moves a top-level window (size, z-order and activation kept).
std::string CmdMove(const Args& a) {
    HWND h = a.Hwnd(1);
    if (!SetWindowPos(h, nullptr, static_cast<int>(a.Int(2)), static_cast<int>(a.Int(3)), 0, 0,
                      SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE))
        FailWin32("SetWindowPos");
    RECT r = {};
    GetWindowRect(h, &r);
    return Ok(Obj().Raw("rect", RectJson(r)));
}

// register-message <name>: the number of a registered window message (RegisterWindowMessageW),
// the same in every process of the prefix; for private queries that a program answers.
std::string CmdRegisterMessage(const Args& a) {
    UINT msg = RegisterWindowMessageW(a.WStr(1).c_str());
    if (!msg) FailWin32("RegisterWindowMessageW");
    return Ok(Obj().Int("msg", msg));
}

// gui-focus <window>: the window that has the keyboard focus in the window's thread
// (GetGUIThreadInfo): `focus` handle (0 = none), its `id` and `class`.
std::string CmdGuiFocus(const Args& a) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(a.Hwnd(1), nullptr), &info)) FailWin32("GetGUIThreadInfo");
    HWND f = info.hwndFocus;
    Obj o;
    o.Raw("focus", HwndJson(f));
    if (f)
        o.Int("id", static_cast<int64_t>(GetWindowLongPtrW(f, GWLP_ID) & 0xFFFF)).WStr("class", ClassOf(f));
    return Ok(o);
}

// set-clipboard <text>: puts the text on the clipboard (CF_UNICODETEXT), for paste tests.
std::string CmdSetClipboard(const Args& a) {
    std::wstring text = a.WStr(1);
    size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    UniqueGlobal memory(GlobalAlloc(GMEM_MOVEABLE, bytes));
    if (!memory) FailWin32("GlobalAlloc");
    void* locked = GlobalLock(memory.Get());
    if (!locked) FailWin32("GlobalLock");
    std::memcpy(locked, text.c_str(), bytes);
    GlobalUnlock(memory.Get());
    if (!OpenClipboard(nullptr)) FailWin32("OpenClipboard");
    EmptyClipboard();
    // Once placed, the memory belongs to the clipboard.
    const bool placed = SetClipboardData(CF_UNICODETEXT, memory.Get()) != nullptr;
    if (placed) memory.Release();
    CloseClipboard();
    if (!placed) Fail("SetClipboardData failed");
    return Ok();
}

// ---------------------------------------------------------------------------------------------
// Calls inside another process

// The base address of a module of another process, or nullptr.
HMODULE RemoteModule(HANDLE process, const wchar_t* name) {
    HMODULE modules[512];
    DWORD needed = 0;
    if (!EnumProcessModules(process, modules, sizeof(modules), &needed)) return nullptr;
    for (DWORD i = 0; i < needed / sizeof(HMODULE) && i < 512; ++i) {
        wchar_t base[MAX_PATH] = {};
        if (GetModuleBaseNameW(process, modules[i], base, MAX_PATH) && lstrcmpiW(base, name) == 0)
            return modules[i];
    }
    return nullptr;
}

// The machine code that RemoteCaller runs in the target process, for the driver's own
// architecture: the target is a program of the same build, so of the same bitness. The stub is a
// thread procedure whose parameter points at a StubCall block; it calls the block's function with
// its four arguments, stores the whole result in the block and returns it, so that it also
// becomes the thread's exit code (of which GetExitCodeThread keeps the low 32 bits only).
struct StubCall {
    uintptr_t function;  // in the target (at the driver's own address, which is checked)
    uintptr_t args[4];
    uintptr_t result;
};

#if defined(__x86_64__)
// DWORD WINAPI stub(StubCall* p): the Windows x64 convention; p arrives in rcx and is kept in rbx
// (callee-saved) across the call; the four arguments go in rcx, rdx, r8 and r9. At entry rsp is 8
// off a 16-byte boundary (the return address); the push and 32 bytes more make it aligned at the
// call and leave the callee its 32-byte home area.
const uint8_t kStub[] = {
    0x53,                    // push rbx
    0x48, 0x83, 0xEC, 0x20,  // sub rsp, 32
    0x48, 0x89, 0xCB,        // mov rbx, rcx          p
    0x48, 0x8B, 0x4B, 0x08,  // mov rcx, [rbx+8]      args[0]
    0x48, 0x8B, 0x53, 0x10,  // mov rdx, [rbx+16]     args[1]
    0x4C, 0x8B, 0x43, 0x18,  // mov r8, [rbx+24]      args[2]
    0x4C, 0x8B, 0x4B, 0x20,  // mov r9, [rbx+32]      args[3]
    0xFF, 0x13,              // call qword [rbx]      function
    0x48, 0x89, 0x43, 0x28,  // mov [rbx+40], rax     result
    0x48, 0x83, 0xC4, 0x20,  // add rsp, 32
    0x5B,                    // pop rbx
    0xC3,                    // ret                   rax: the result
};
#elif defined(__i386__)
// DWORD WINAPI stub(StubCall* p): stdcall; the four arguments are pushed right to left. The
// callee may take fewer arguments and pop only those (stdcall) or none (cdecl): esp is saved in
// ebp before the pushes and restored from it after the call, so the stack is right either way.
const uint8_t kStub[] = {
    0x55,              // push ebp
    0x89, 0xE5,        // mov ebp, esp
    0x53,              // push ebx
    0x8B, 0x5D, 0x08,  // mov ebx, [ebp+8]      p
    0xFF, 0x73, 0x10,  // push dword [ebx+16]   args[3]
    0xFF, 0x73, 0x0C,  // push dword [ebx+12]   args[2]
    0xFF, 0x73, 0x08,  // push dword [ebx+8]    args[1]
    0xFF, 0x73, 0x04,  // push dword [ebx+4]    args[0]
    0xFF, 0x13,        // call dword [ebx]      function
    0x89, 0x43, 0x14,  // mov [ebx+20], eax     result
    0x8B, 0x5D, 0xFC,  // mov ebx, [ebp-4]
    0x89, 0xEC,        // mov esp, ebp
    0x5D,              // pop ebp
    0xC2, 0x04, 0x00,  // ret 4                 eax: the result
};
#else
#error "the remote calls have a stub for i386 and x86-64 only"
#endif
// The offsets that the stubs use: 0 function, 1 to 4 the arguments, 5 the result, in pointers.
static_assert(offsetof(StubCall, args) == 1 * sizeof(void*) &&
                  offsetof(StubCall, result) == 5 * sizeof(void*) && sizeof(StubCall) == 6 * sizeof(void*),
              "the stub reads and writes pointer-sized fields");

// The remote block: the stub, then the call, then the data that "buf" points at, each at a
// 16-byte boundary and none overlapping the next.
constexpr size_t RoundUp16(size_t n) {
    return (n + 15) / 16 * 16;
}
constexpr size_t kStubCallAt = RoundUp16(sizeof(kStub));
constexpr size_t kStubDataAt = kStubCallAt + RoundUp16(sizeof(StubCall));  // i386: 80, x86-64: 96
static_assert(sizeof(kStub) <= kStubCallAt, "the call follows the stub");
static_assert(kStubCallAt + sizeof(StubCall) <= kStubDataAt, "the data follows the call");

// Functions called inside the process of a window, each on a thread started there
// (CreateRemoteThread) that runs kStub: for messages that no system passes between processes,
// and for GDI objects, whose handles mean something in their own process only. The functions
// are those of system DLLs, which a prefix loads at the same address in every process of one
// bitness; Function() checks that for each one.
class RemoteCaller {
public:
    // A remote block with room for `dataSize` bytes of data.
    RemoteCaller(HWND window, size_t dataSize)
        : m_process(OpenProcessOrFail(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION |
                                          PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE,
                                      WindowPid(window))),
          m_block(m_process.Get(), kStubDataAt + dataSize, PAGE_EXECUTE_READWRITE),
          m_dataSize(dataSize) {
        std::vector<uint8_t> code(kStubCallAt, 0xCC);
        std::memcpy(code.data(), kStub, sizeof(kStub));
        Write(Block(), code.data(), code.size());
        FlushInstructionCache(m_process.Get(), Block(), sizeof(kStub));
    }

    // The address of the data in the target.
    uintptr_t Data() const { return reinterpret_cast<uintptr_t>(Block() + kStubDataAt); }
    void WriteData(const std::vector<uint8_t>& bytes) {
        if (bytes.size() > m_dataSize) Fail("too much data for the remote block");
        Write(Block() + kStubDataAt, bytes.data(), bytes.size());
    }
    std::vector<uint8_t> ReadData(size_t size) const {
        if (size > m_dataSize) Fail("more data asked for than the remote block holds");
        std::vector<uint8_t> bytes(size);
        Read(Block() + kStubDataAt, bytes.data(), size);
        return bytes;
    }

    // The address of an exported function of a system DLL, valid in the target: the DLL, and the
    // module that holds the function after any forwarding, are loaded at the driver's addresses
    // there.
    uintptr_t Function(const wchar_t* dll, const char* name) const {
        HMODULE own = GetModuleHandleW(dll);
        FARPROC function = own ? GetProcAddress(own, name) : nullptr;
        if (!function) Fail(std::string("no function ") + name + " in the driver");
        HMODULE holder = nullptr;
        if (!GetModuleHandleExW(
                GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                reinterpret_cast<LPCWSTR>(function), &holder))
            FailWin32("GetModuleHandleExW");
        wchar_t holderName[MAX_PATH] = {};
        if (!GetModuleBaseNameW(GetCurrentProcess(), holder, holderName, MAX_PATH))
            FailWin32("GetModuleBaseNameW");
        if (RemoteModule(m_process.Get(), dll) != own || RemoteModule(m_process.Get(), holderName) != holder)
            Fail(std::string("the module of ") + name + " is not at the driver's address in the target");
        return reinterpret_cast<uintptr_t>(function);
    }

    // function(args...) on a new thread of the target, waited for up to `timeoutMs`; its result
    // (the whole register: the caller narrows it to the function's return type).
    uintptr_t Call(uintptr_t function, std::initializer_list<uintptr_t> args,
                   DWORD timeoutMs = kSendTimeoutMs) {
        if (args.size() > 4) Fail("a remote call takes up to four arguments");
        StubCall call{function, {}, 0};
        std::copy(args.begin(), args.end(), call.args);
        Write(Block() + kStubCallAt, &call, sizeof(call));
        win::UniqueHandle thread(CreateRemoteThread(m_process.Get(), nullptr, 0,
                                                    reinterpret_cast<LPTHREAD_START_ROUTINE>(Block()),
                                                    Block() + kStubCallAt, 0, nullptr));
        if (!thread) FailWin32("CreateRemoteThread");
        if (WaitForSingleObject(thread.Get(), timeoutMs) != WAIT_OBJECT_0) {
            // The thread may still run the stub: its block is left to the target.
            m_block.Release();
            Fail("timeout: the call in the target did not return");
        }
        Read(Block() + kStubCallAt, &call, sizeof(call));
        return call.result;
    }

private:
    uint8_t* Block() const {
        if (!m_block) Fail("the remote block was left to the target after a timeout");
        return m_block.Get();
    }
    void Write(uint8_t* at, const void* bytes, size_t size) {
        SIZE_T done = 0;
        if (size && !WriteProcessMemory(m_process.Get(), at, bytes, size, &done))
            FailWin32("WriteProcessMemory");
    }
    void Read(const uint8_t* at, void* bytes, size_t size) const {
        SIZE_T done = 0;
        if (size && !ReadProcessMemory(m_process.Get(), at, bytes, size, &done))
            FailWin32("ReadProcessMemory");
    }

    win::UniqueHandle m_process;  // declared first: closed after the block is freed
    RemoteAllocation m_block;
    size_t m_dataSize;
};

// A value that a function returns in eax (int, UINT, BOOL), from the whole result register.
int32_t Narrow32(uintptr_t result) {
    return static_cast<int32_t>(static_cast<uint32_t>(result));
}

// send-inprocess <window> <id> <msg> <wparam> <lparam> <hex bytes in> <buffer size> [ms]
// Sends the message from a thread started inside the window's own process, with "buf" / "buf+N"
// parameters pointing into a buffer allocated there; `result` (SendMessageW's result, its low 32
// bits as a signed and as an unsigned number), `buffer` read back. For messages that neither
// Windows nor Wine passes between processes, such as WM_NOTIFY: the target receives them as from
// one of its own threads, with valid pointers.
std::string CmdSendInProcess(const Args& a) {
    HWND c = FindControl(a.Hwnd(1), a.Str(2));
    std::vector<uint8_t> in;
    if (!ParseHex(a.Str(6), in)) Fail("bad hex buffer");
    size_t size = std::max(static_cast<size_t>(a.Int(7, static_cast<int64_t>(in.size()))), in.size());
    DWORD timeout = static_cast<DWORD>(a.Int(8, kSendTimeoutMs));

    RemoteCaller target(c, size + 1);
    const uintptr_t send = target.Function(L"user32.dll", "SendMessageW");
    in.resize(size + 1, 0);
    target.WriteData(in);
    // Full pointer width: on x86-64 the remote block, and so "buf", may lie above 4 GiB.
    const uintptr_t data = target.Data();
    const auto result =
        static_cast<uint32_t>(target.Call(send,
                                          {reinterpret_cast<uintptr_t>(c), static_cast<UINT>(a.Int(3)),
                                           Param(a.Str(4), data), Param(a.Str(5), data)},
                                          timeout));
    std::vector<uint8_t> out = target.ReadData(size);
    return Ok(Obj()
                  .Int("result", static_cast<int32_t>(result))
                  .Int("uresult", result)
                  .Str("buffer", HexBytes(out.data(), out.size())));
}

// What a LOGFONTW says of a font's look, as JSON.
std::string LogFontJson(const LOGFONTW& lf) {
    return Obj()
        .WStr("face", std::wstring(lf.lfFaceName, wcsnlen(lf.lfFaceName, LF_FACESIZE)))
        .Int("height", lf.lfHeight)
        .Int("width", lf.lfWidth)
        .Int("weight", lf.lfWeight)
        .Bool("italic", lf.lfItalic != 0)
        .Bool("underline", lf.lfUnderline != 0)
        .Int("charset", lf.lfCharSet)
        .Json();
}

// The WM_CTLCOLOR* message with which a control asks its parent for its colours as it paints
// (and so, on a page that chooses fonts there, for its font); 0 for a control that asks none.
UINT CtlColorMessage(HWND c) {
    const std::wstring cls = ClassOf(c);
    const DWORD style = static_cast<DWORD>(GetWindowLongW(c, GWL_STYLE));
    if (lstrcmpiW(cls.c_str(), L"Static") == 0) return WM_CTLCOLORSTATIC;
    if (lstrcmpiW(cls.c_str(), L"Edit") == 0)
        return (style & ES_READONLY) || !IsWindowEnabled(c) ? WM_CTLCOLORSTATIC : WM_CTLCOLOREDIT;
    if (lstrcmpiW(cls.c_str(), L"Button") == 0) {
        const DWORD type = style & BS_TYPEMASK;
        return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON ? WM_CTLCOLORBTN : WM_CTLCOLORSTATIC;
    }
    if (lstrcmpiW(cls.c_str(), L"ListBox") == 0) return WM_CTLCOLORLISTBOX;
    if (lstrcmpiW(cls.c_str(), L"ScrollBar") == 0) return WM_CTLCOLORSCROLLBAR;
    return 0;
}

// font <window> <id>: the control's fonts, read inside its process (a font handle means nothing
// elsewhere) with GetObjectW: `font`, its own font (WM_GETFONT), null when it has none; `drawn`,
// the font that its parent selects into the device context when the control asks for its colours
// (`ctlcolor`, the WM_CTLCOLOR* message of its class, sent from inside the process with a memory
// DC made there), null when the parent selects none and the control draws with its own.
std::string CmdFont(const Args& a) {
    HWND c = FindControl(a.Hwnd(1), a.Str(2));
    RemoteCaller target(c, sizeof(LOGFONTW));
    const uintptr_t getObject = target.Function(L"gdi32.dll", "GetObjectW");
    auto describe = [&](uintptr_t font) -> std::string {
        if (!font) return "null";
        if (Narrow32(target.Call(getObject, {font, sizeof(LOGFONTW), target.Data()})) != sizeof(LOGFONTW))
            Fail("GetObjectW of the font failed in the target");
        LOGFONTW lf{};
        const std::vector<uint8_t> bytes = target.ReadData(sizeof(lf));
        std::memcpy(&lf, bytes.data(), sizeof(lf));
        return LogFontJson(lf);
    };

    // Sent from inside: Wine 8 fails WM_GETFONT sent from another process (no error code).
    const uintptr_t send = target.Function(L"user32.dll", "SendMessageW");
    const uintptr_t own = target.Call(send, {reinterpret_cast<uintptr_t>(c), WM_GETFONT, 0, 0});
    const UINT ctlColor = CtlColorMessage(c);
    uintptr_t drawn = 0;
    if (ctlColor) {
        const uintptr_t dc = target.Call(target.Function(L"gdi32.dll", "CreateCompatibleDC"), {0});
        if (!dc) Fail("CreateCompatibleDC failed in the target");
        const uintptr_t deleteDc = target.Function(L"gdi32.dll", "DeleteDC");
        // The DC is deleted on every way out; a failure to delete it is not this command's.
        struct DeleteRemoteDc {
            RemoteCaller& target;
            uintptr_t deleteDc, dc;
            ~DeleteRemoteDc() {
                try {
                    target.Call(deleteDc, {dc});
                } catch (const Failure&) {
                }
            }
        } deleteAtEnd{target, deleteDc, dc};
        const uintptr_t current = target.Function(L"gdi32.dll", "GetCurrentObject");
        const uintptr_t before = target.Call(current, {dc, OBJ_FONT});
        target.Call(send, {reinterpret_cast<uintptr_t>(GetAncestor(c, GA_PARENT)), ctlColor, dc,
                           reinterpret_cast<uintptr_t>(c)});
        const uintptr_t after = target.Call(current, {dc, OBJ_FONT});
        if (after != before) drawn = after;
    }
    return Ok(Obj().Raw("font", describe(own)).Raw("drawn", describe(drawn)).Int("ctlcolor", ctlColor));
}

struct Command {
    const char* name;
    Handler handler;
};

const Command kCommands[] = {
    {"hello", CmdHello},
    {"register-message", CmdRegisterMessage},
    {"gui-focus", CmdGuiFocus},
    {"set-clipboard", CmdSetClipboard},
    {"send-inprocess", CmdSendInProcess},
    {"font", CmdFont},
    {"sysinfo", CmdSysInfo},
    {"start", CmdStart},
    {"wait-exit", CmdWaitExit},
    {"exit-code", CmdExitCode},
    {"kill", CmdKill},
    {"windows", CmdWindows},
    {"wait-window", CmdWaitWindow},
    {"window", CmdWindow},
    {"exists", CmdExists},
    {"icons", CmdIcons},
    {"control", CmdControl},
    {"is-enabled", CmdIsEnabled},
    {"page", CmdPage},
    {"click", CmdClick},
    {"press", CmdPress},
    {"settext", CmdSetText},
    {"type", CmdType},
    {"post-chars", CmdPostChars},
    {"keys", CmdKeys},
    {"focus", CmdFocus},
    {"send", CmdSend},
    {"post", CmdPost},
    {"sendbuf", CmdSendBuf},
    {"pixels", CmdPixels},
    {"screen-pixels", CmdScreenPixels},
    {"icon-resource", CmdIconResource},
    {"watch-exit", CmdWatchExit},
    {"probe", CmdProbe},
    {"lock", CmdLock},
    {"unlock", CmdUnlock},
    {"can-open", CmdCanOpen},
    {"sleep", CmdSleep},
    {"syscolors", CmdSysColors},
    {"move", CmdMove},
    {"redraw", CmdRedraw},
    {"reg-dump", CmdRegDump},
};

std::string Dispatch(const std::string& line) {
    Args args(SplitLine(line));
    const std::string& name = args.Str(0);
    for (const Command& c : kCommands) {
        if (name == c.name) {
            try {
                return c.handler(args);
            } catch (const Failure& f) {
                return Obj().Bool("ok", false).Str("error", f.message).Json();
            }
        }
    }
    return Obj().Bool("ok", false).Str("error", "unknown command: " + name).Json();
}

void WriteLine(HANDLE out, const std::string& text) {
    std::string line = text + "\n";
    DWORD done = 0;
    const char* p = line.data();
    size_t left = line.size();
    while (left) {
        if (!WriteFile(out, p, static_cast<DWORD>(left), &done, nullptr) || done == 0) std::exit(4);
        p += done;
        left -= done;
    }
}

}  // namespace

int wmain() {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    std::string pending;
    char buf[4096];
    for (;;) {
        size_t nl;
        while ((nl = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty()) continue;
            if (line == "quit") {
                WriteLine(out, Ok());
                return 0;
            }
            std::string reply;
            try {
                reply = Dispatch(line);
            } catch (const Failure& f) {
                reply = Obj().Bool("ok", false).Str("error", f.message).Json();
            }
            WriteLine(out, reply);
        }
        DWORD got = 0;
        if (!ReadFile(in, buf, sizeof buf, &got, nullptr) || got == 0) return 0;  // stdin closed
        pending.append(buf, got);
    }
}
