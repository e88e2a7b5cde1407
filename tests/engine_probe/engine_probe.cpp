// engine_probe: runs the installation engine through its real Windows ports, for the end-to-end
// tests. Every answer is one JSON object per line on standard output, in ASCII (other characters
// as \u escapes), or in the file given by a leading "--out FILE" (for a probe started by a program
// whose own standard output it would otherwise share).
//
//   engine_probe install PACKAGE KIND|real DESTINATION SYSTEM|real
//       The install job's engine steps in order: CheckSignature, CheckVersion, CheckCrc,
//       ExtractFiles (stopping after the first that fails), then CreateShortcuts. A recording
//       install page prints every message box text, every change of the progress value and every
//       log text; each step's result line also gives its time in microseconds ("us"). Exit status 0
//       when every step returned 1, 1 when a check or the extraction failed, 2 when only the
//       shortcut creation failed.
//   engine_probe platform              the version report, IsWow64 and the PlatformKind
//   engine_probe clock Y M D h m s     the UTC seconds of a local date and time
//   engine_probe folder PATH           prepares a destination folder with all its parents
//   engine_probe free ROOT             the total free bytes of a volume
//   engine_probe shellfolder CSIDL     the path of a shell folder, as the shortcut creation resolves it
//   engine_probe readlink FILE         target, working folder, description and the rest of a link
//   engine_probe makelink FILE TARGET ARGUMENTS ICON HOTKEY
//       writes a link with these properties (for tests that need a link of another target)
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <optional>
#include <string>
#include <string_view>

#include "win/com_ptr.h"
#include "core/checks.h"
#include "core/extract.h"
#include "core/folders.h"
#include "core/shortcuts.h"
#include "engine/win/win_ports.h"
#include "tests/support/json_text.h"

namespace {

using quentaro::ToU16;

constexpr int kUsage = 64;

std::FILE* g_output = stdout;

// A JSON object written as one line.
class JsonLine {
public:
    JsonLine& Text(const char* key, std::u16string_view value) {
        Key(key);
        m_line += test_support::JsonQuoted(value);
        return *this;
    }
    JsonLine& Text(const char* key, std::wstring_view value) { return Text(key, ToU16(value)); }
    JsonLine& Number(const char* key, long long value) {
        Key(key);
        m_line += std::to_string(value);
        return *this;
    }
    JsonLine& Bool(const char* key, bool value) {
        Key(key);
        m_line += value ? "true" : "false";
        return *this;
    }
    void Print() {
        m_line += "}\n";
        std::fwrite(m_line.data(), 1, m_line.size(), g_output);
        std::fflush(g_output);
    }

private:
    void Key(const char* key) {
        m_line += m_line.size() > 1 ? ",\"" : "\"";
        m_line += key;
        m_line += "\":";
    }
    std::string m_line = "{";
};

// The install page as the engine sees it, printing what it is told.
class RecordingUi : public quentaro::InstallUi {
public:
    void ShowError(const std::u16string& text) override {
        JsonLine().Text("event", u"error").Text("text", text).Print();
    }
    void SetProgress(std::int32_t percent) override {
        if (percent == m_last) return;
        m_last = percent;
        JsonLine().Text("event", u"progress").Number("value", percent).Print();
    }
    void AppendLog(const std::u16string& text) override {
        JsonLine().Text("event", u"log").Text("text", text).Print();
    }

private:
    std::int32_t m_last = -1000;
};

bool ParseInt(const wchar_t* text, long long& value) {
    wchar_t* end = nullptr;
    value = std::wcstoll(text, &end, 10);
    return end != text && *end == L'\0';
}

int RunInstall(int argc, wchar_t** argv) {
    if (argc != 6) return kUsage;
    std::int32_t kind = 0;
    if (std::wstring_view(argv[3]) == L"real") {
        kind = quentaro::QueryPlatformKind();
    } else {
        long long value = 0;
        if (!ParseInt(argv[3], value)) return kUsage;
        kind = static_cast<std::int32_t>(value);
    }
    const std::u16string systemFolder =
        std::wstring_view(argv[5]) == L"real" ? quentaro::QuerySystemFolder() : ToU16(argv[5]);

    quentaro::WinEnginePorts ports;
    RecordingUi ui;
    quentaro::InstallEngine engine = ports.MakeEngine(ui, kind, ToU16(argv[4]), systemFolder);
    engine.packageName = ToU16(argv[2]);
    JsonLine()
        .Text("event", u"start")
        .Number("kind", kind)
        .Text("destination", engine.destinationFolder)
        .Text("system", engine.systemFolder)
        .Print();

    using Step = int (*)(const quentaro::InstallEngine&);
    const struct {
        const char16_t* name;
        Step run;
    } steps[] = {
        {u"CheckSignature", &quentaro::CheckSignature},
        {u"CheckVersion", &quentaro::CheckVersion},
        {u"CheckCrc", &quentaro::CheckCrc},
        {u"ExtractFiles", &quentaro::ExtractFiles},
    };
    // Each result line also says how long the step took ("us", microseconds), for the benchmarks.
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    const auto microsecondsSince = [&](const LARGE_INTEGER& start) {
        LARGE_INTEGER now{};
        ::QueryPerformanceCounter(&now);
        return (now.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart;
    };
    LARGE_INTEGER start{};
    for (const auto& step : steps) {
        ::QueryPerformanceCounter(&start);
        const int result = step.run(engine);
        const long long us = microsecondsSince(start);
        JsonLine()
            .Text("event", u"result")
            .Text("step", step.name)
            .Number("value", result)
            .Number("us", us)
            .Print();
        if (result != 1) return 1;
    }
    quentaro::WinShortcutPort shortcuts;
    ::QueryPerformanceCounter(&start);
    const int linked = quentaro::CreateShortcuts(engine.destinationFolder, shortcuts);
    const long long us = microsecondsSince(start);
    JsonLine()
        .Text("event", u"result")
        .Text("step", u"CreateShortcuts")
        .Number("value", linked)
        .Number("us", us)
        .Print();
    return linked == 1 ? 0 : 2;
}

int RunPlatform() {
    const quentaro::VersionReport version = quentaro::QueryVersionReport();
    JsonLine()
        .Bool("succeeded", version.succeeded)
        .Number("platform", version.platformId)
        .Number("major", version.majorVersion)
        .Number("minor", version.minorVersion)
        .Number("wow64", quentaro::QueryIsWow64())
        .Number("kind", quentaro::QueryPlatformKind())
        .Print();
    return 0;
}

int RunClock(int argc, wchar_t** argv) {
    if (argc != 8) return kUsage;
    long long fields[6] = {};
    for (int i = 0; i < 6; ++i) {
        if (!ParseInt(argv[2 + i], fields[i])) return kUsage;
    }
    const quentaro::LocalTime local{
        static_cast<std::int32_t>(fields[0]), static_cast<std::int32_t>(fields[1]),
        static_cast<std::int32_t>(fields[2]), static_cast<std::int32_t>(fields[3]),
        static_cast<std::int32_t>(fields[4]), static_cast<std::int32_t>(fields[5])};
    quentaro::WinLocalClock clock;
    std::int64_t utc = 0;
    const bool ok = clock.LocalToUtc(local, utc);
    JsonLine().Bool("ok", ok).Number("utc", ok ? utc : 0).Print();
    return ok ? 0 : 1;
}

int RunFolder(int argc, wchar_t** argv) {
    if (argc != 3) return kUsage;
    quentaro::WinFolderPort port;
    const bool ok = quentaro::PrepareFolder(ToU16(argv[2]), port);
    JsonLine().Bool("ok", ok).Number("drives", port.GetLogicalDriveMask()).Print();
    return ok ? 0 : 1;
}

int RunFree(int argc, wchar_t** argv) {
    if (argc != 3) return kUsage;
    const std::optional<std::uint64_t> free = quentaro::QueryTotalFreeBytes(ToU16(argv[2]));
    JsonLine().Bool("ok", free.has_value()).Number("bytes", free ? static_cast<long long>(*free) : 0).Print();
    return free ? 0 : 1;
}

int RunShellFolder(int argc, wchar_t** argv) {
    long long csidl = 0;
    if (argc != 3 || !ParseInt(argv[2], csidl)) return kUsage;
    quentaro::WinShortcutPort port;
    const std::u16string path = port.GetShellFolderPath(static_cast<std::int32_t>(csidl));
    JsonLine().Bool("ok", !path.empty()).Text("path", path).Print();
    return path.empty() ? 1 : 0;
}

// COM for one command of this program.
class ComScope {
public:
    ComScope() : m_ok(SUCCEEDED(::CoInitialize(nullptr))) {}
    ~ComScope() {
        if (m_ok) ::CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    bool ok() const { return m_ok; }

private:
    bool m_ok;
};

int RunReadLink(int argc, wchar_t** argv) {
    if (argc != 3) return kUsage;
    ComScope com;
    win::ComPtr<IShellLinkW> link;
    win::ComPtr<IPersistFile> file;
    if (!com.ok() ||
        FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  link.PutVoid())) ||
        FAILED(link.As(IID_IPersistFile, file)) || FAILED(file->Load(argv[2], STGM_READ))) {
        JsonLine().Bool("ok", false).Print();
        return 1;
    }
    wchar_t target[MAX_PATH] = {};
    wchar_t folder[MAX_PATH] = {};
    wchar_t description[MAX_PATH] = {};
    wchar_t arguments[MAX_PATH] = {};
    wchar_t icon[MAX_PATH] = {};
    WIN32_FIND_DATAW data{};
    int iconIndex = 0;
    WORD hotkey = 0;
    int showCommand = 0;
    link->GetPath(target, MAX_PATH, &data, SLGP_UNCPRIORITY);
    link->GetWorkingDirectory(folder, MAX_PATH);
    link->GetDescription(description, MAX_PATH);
    link->GetArguments(arguments, MAX_PATH);
    link->GetIconLocation(icon, MAX_PATH, &iconIndex);
    link->GetHotkey(&hotkey);
    link->GetShowCmd(&showCommand);
    JsonLine()
        .Bool("ok", true)
        .Text("target", target)
        .Text("folder", folder)
        .Text("description", description)
        .Text("arguments", arguments)
        .Text("icon", icon)
        .Number("hotkey", hotkey)
        .Number("show", showCommand)
        .Print();
    return 0;
}

int RunMakeLink(int argc, wchar_t** argv) {
    long long hotkey = 0;
    if (argc != 7 || !ParseInt(argv[6], hotkey)) return kUsage;
    ComScope com;
    win::ComPtr<IShellLinkW> link;
    win::ComPtr<IPersistFile> file;
    bool ok = com.ok() &&
              SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                           link.PutVoid())) &&
              SUCCEEDED(link.As(IID_IPersistFile, file));
    if (ok) {
        link->SetPath(argv[3]);
        link->SetArguments(argv[4]);
        link->SetIconLocation(argv[5], 0);
        link->SetHotkey(static_cast<WORD>(hotkey));
        link->SetDescription(L"another program");
        ok = SUCCEEDED(file->Save(argv[2], TRUE));
    }
    JsonLine().Bool("ok", ok).Print();
    return ok ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 3 && std::wstring_view(argv[1]) == L"--out") {
        g_output = ::_wfopen(argv[2], L"wb");
        if (!g_output) return kUsage;
        argv[2] = argv[0];
        argc -= 2;
        argv += 2;
    }
    if (argc < 2) return kUsage;
    const std::wstring_view command = argv[1];
    if (command == L"install") return RunInstall(argc, argv);
    if (command == L"platform" && argc == 2) return RunPlatform();
    if (command == L"clock") return RunClock(argc, argv);
    if (command == L"folder") return RunFolder(argc, argv);
    if (command == L"free") return RunFree(argc, argv);
    if (command == L"shellfolder") return RunShellFolder(argc, argv);
    if (command == L"readlink") return RunReadLink(argc, argv);
    if (command == L"makelink") return RunMakeLink(argc, argv);
    return kUsage;
}
