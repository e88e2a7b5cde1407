// quentaro-file-calls: what each file-system call of the extraction costs on this Windows (or
// under Wine), for many small files. Not a test: it prints timings.
//
//   quentaro-file-calls FOLDER COUNT
//
// FOLDER must exist and be empty. For COUNT files of 100 bytes it makes the calls that the
// extraction makes per file, in its order, and times each kind with QueryPerformanceCounter:
//   look     the old file of the name opened for writing without sharing (absent here: fails)
//   attrs    GetFileAttributesW of that name (a cheaper look at whether it exists)
//   create   the temporary file, CREATE_NEW
//   write    WriteFile of the 100 bytes
//   close    CloseHandle
//   times    the temporary file opened again by name, SetFileTime, CloseHandle
//   rename   MoveFileExW to the final name, MOVEFILE_REPLACE_EXISTING
// then, for comparison, the same files written again in place of these (CREATE_ALWAYS, write,
// SetFileTime on the open handle, close): "inplace". Then the path the extraction takes now, for
// COUNT new files in FOLDER\staged: the temporary file made in a staging folder of its own
// (FOLDER\staged\~qs), written, closed, given its times there, then renamed without replacing
// (the only look-up of a missing name in the big folder): "s-create", "s-times", "s-rename".
// One line per kind: calls, total ms, µs per call.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

double g_tick = 0;  // seconds per performance-counter tick

struct Kind {
    const char* name;
    LONGLONG ticks = 0;
    long calls = 0;
};

template <class F>
auto Timed(Kind& kind, F&& f) {
    LARGE_INTEGER a{}, b{};
    ::QueryPerformanceCounter(&a);
    auto result = f();
    ::QueryPerformanceCounter(&b);
    kind.ticks += b.QuadPart - a.QuadPart;
    ++kind.calls;
    return result;
}

HANDLE CreateNew(const std::wstring& path) {
    return ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The file opened again by name, its times set, closed: how the extraction stamps a closed file.
BOOL StampByName(const std::wstring& path, const FILETIME& stamp) {
    HANDLE t = ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    const BOOL ok = ::SetFileTime(t, &stamp, nullptr, &stamp);
    ::CloseHandle(t);
    return ok;
}

// "\fileNNNNN.txt"
std::wstring FileName(long i) {
    wchar_t name[64];
    std::swprintf(name, 64, L"\\file%05ld.txt", i);
    return name;
}

void Print(const Kind& kind) {
    const double ms = static_cast<double>(kind.ticks) * g_tick * 1e3;
    std::printf("%-8s %7ld calls %10.1f ms %8.1f us per call\n", kind.name, kind.calls, ms,
                kind.calls ? ms * 1e3 / static_cast<double>(kind.calls) : 0.0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: quentaro-file-calls FOLDER COUNT\n");
        return 2;
    }
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    g_tick = 1.0 / static_cast<double>(frequency.QuadPart);
    const std::wstring folder = argv[1];
    const long count = std::wcstol(argv[2], nullptr, 10);
    Kind look{"look"}, attrs{"attrs"}, create{"create"}, write{"write"}, close{"close"}, times{"times"},
        rename{"rename"}, inplace{"inplace"};
    char data[100] = {};
    FILETIME stamp{};
    stamp.dwHighDateTime = 0x01C89000u;  // a day in 2008
    LARGE_INTEGER all{}, end{};
    ::QueryPerformanceCounter(&all);
    for (long i = 0; i < count; ++i) {
        const std::wstring path = folder + FileName(i);
        const std::wstring temporary = folder + L"\\~qs" + std::to_wstring(i) + L".tmp";
        Timed(look, [&] {
            HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
            return 0;
        });
        Timed(attrs, [&] { return ::GetFileAttributesW(path.c_str()); });
        HANDLE h = Timed(create, [&] { return CreateNew(temporary); });
        if (h == INVALID_HANDLE_VALUE) {
            std::fprintf(stderr, "create failed: %lu\n", ::GetLastError());
            return 1;
        }
        DWORD done = 0;
        Timed(write, [&] { return ::WriteFile(h, data, sizeof(data), &done, nullptr); });
        Timed(close, [&] { return ::CloseHandle(h); });
        Timed(times, [&] { return StampByName(temporary, stamp); });
        if (!Timed(rename, [&] {
                return ::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
            })) {
            std::fprintf(stderr, "rename failed: %lu\n", ::GetLastError());
            return 1;
        }
    }
    ::QueryPerformanceCounter(&end);
    const double writeThenRename = static_cast<double>(end.QuadPart - all.QuadPart) * g_tick;
    for (long i = 0; i < count; ++i) {
        const std::wstring path = folder + FileName(i);
        Timed(inplace, [&] {
            HANDLE f = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
            DWORD written = 0;
            ::WriteFile(f, data, sizeof(data), &written, nullptr);
            ::SetFileTime(f, &stamp, nullptr, &stamp);
            return ::CloseHandle(f);
        });
    }
    // The staged path, into a folder of its own that starts empty.
    Kind screate{"s-create"}, stimes{"s-times"}, srename{"s-rename"};
    const std::wstring target = folder + L"\\staged";
    const std::wstring staging = target + L"\\~qs";
    if (!::CreateDirectoryW(target.c_str(), nullptr) || !::CreateDirectoryW(staging.c_str(), nullptr)) {
        std::fprintf(stderr, "staging folders: %lu\n", ::GetLastError());
        return 1;
    }
    ::QueryPerformanceCounter(&all);
    for (long i = 0; i < count; ++i) {
        const std::wstring path = target + FileName(i);
        const std::wstring temporary = staging + L"\\~qs" + std::to_wstring(i) + L".tmp";
        HANDLE h = Timed(screate, [&] { return CreateNew(temporary); });
        DWORD done = 0;
        ::WriteFile(h, data, sizeof(data), &done, nullptr);
        ::CloseHandle(h);
        Timed(stimes, [&] { return StampByName(temporary, stamp); });
        if (!Timed(srename, [&] { return ::MoveFileExW(temporary.c_str(), path.c_str(), 0); })) {
            std::fprintf(stderr, "staged rename failed: %lu\n", ::GetLastError());
            return 1;
        }
    }
    ::QueryPerformanceCounter(&end);
    const double staged = static_cast<double>(end.QuadPart - all.QuadPart) * g_tick;
    ::RemoveDirectoryW(staging.c_str());

    for (const Kind* kind :
         {&look, &attrs, &create, &write, &close, &times, &rename, &inplace, &screate, &stimes, &srename})
        Print(*kind);
    std::printf("write-then-rename, all calls: %.1f ms for %ld files, %.3f ms per file\n",
                writeThenRename * 1e3, count, writeThenRename * 1e3 / static_cast<double>(count));
    std::printf("staged, all calls: %.1f ms for %ld files, %.3f ms per file\n", staged * 1e3, count,
                staged * 1e3 / static_cast<double>(count));
    return 0;
}
