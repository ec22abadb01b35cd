// Stands in for a PostgreSQL client program (dropdb.exe, createdb.exe, pg_restore.exe, psql.exe) in the
// Windows tests, where the real ones are not available. It appends one line to the file that
// CORVANE_STAND_IN_RECORD names: its name and each argument as it received it, in brackets. Then, for
// <NAME> its name in capitals (PG_RESTORE):
//   CORVANE_STAND_IN_<NAME>_OUTPUT   a line it prints on standard output
//   CORVANE_STAND_IN_<NAME>_ERROR    a line it prints on standard error
//   CORVANE_STAND_IN_<NAME>_EXIT     its exit code (0 when unset)
//   CORVANE_STAND_IN_<NAME>_WAIT     set: it records "<name> waiting" and waits to be ended; a Ctrl+Break
//                                    is recorded as "<name> asked to end" and ends it with exit code 3.
//                                    "with helper": it first starts a copy of itself that records
//                                    "<name> helper <process ID>" and waits too, as pg_restore -j does.
#include <windows.h>

#include <cstdio>
#include <cwctype>
#include <string>

namespace {

std::wstring name;

std::string Utf8(const std::wstring& text) {
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), bytes.data(), size, nullptr, nullptr);
    return bytes;
}

std::wstring Variable(const std::wstring& variable) {
    wchar_t value[4096];
    const DWORD length = GetEnvironmentVariableW(variable.c_str(), value, DWORD(std::size(value)));
    return length > 0 && length < std::size(value) ? std::wstring(value, length) : std::wstring();
}

std::wstring Setting(const wchar_t* what) {
    std::wstring upper = name;
    for (wchar_t& c : upper)
        c = wchar_t(std::towupper(c));
    return Variable(L"CORVANE_STAND_IN_" + upper + L"_" + what);
}

void Record(const std::wstring& line) {
    if (FILE* file = _wfopen(Variable(L"CORVANE_STAND_IN_RECORD").c_str(), L"ab")) {
        const std::string bytes = Utf8(line + L"\n");
        fwrite(bytes.data(), 1, bytes.size(), file);
        fclose(file);
    }
}

BOOL WINAPI OnControlEvent(DWORD event) {
    Record(name + (event == CTRL_BREAK_EVENT ? L" asked to end" : L" got another console event"));
    ExitProcess(3);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    wchar_t module[MAX_PATH];
    const std::wstring path(module, GetModuleFileNameW(nullptr, module, MAX_PATH));
    name = path.substr(path.find_last_of(L"\\/") + 1);
    name.resize(name.size() - 4); // ".exe"

    if (!Variable(L"CORVANE_STAND_IN_HELPER").empty()) {
        SetConsoleCtrlHandler(OnControlEvent, TRUE);
        Record(name + L" helper " + std::to_wstring(GetCurrentProcessId()));
        Sleep(60000);
        Record(name + L" helper waited in vain");
        return 4;
    }

    std::wstring line = name;
    for (int i = 1; i < argc; ++i)
        line += std::wstring(L" [") + argv[i] + L"]";
    Record(line);
    if (const std::wstring output = Setting(L"OUTPUT"); !output.empty())
        std::printf("%s\n", Utf8(output).c_str());
    if (const std::wstring error = Setting(L"ERROR"); !error.empty())
        std::fprintf(stderr, "%s\n", Utf8(error).c_str());
    std::fflush(stdout);
    std::fflush(stderr);
    if (const std::wstring wait = Setting(L"WAIT"); !wait.empty()) {
        SetConsoleCtrlHandler(OnControlEvent, TRUE);
        if (wait == L"with helper") {
            SetEnvironmentVariableW(L"CORVANE_STAND_IN_HELPER", L"1");
            std::wstring commandLine = L"\"" + path + L"\"";
            STARTUPINFOW startup{};
            startup.cb = sizeof startup;
            PROCESS_INFORMATION helper{};
            if (CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &helper)) {
                CloseHandle(helper.hThread);
                CloseHandle(helper.hProcess);
            }
        }
        Record(name + L" waiting");
        Sleep(60000);
        Record(name + L" waited in vain");
        return 4;
    }
    return _wtoi(Setting(L"EXIT").c_str());
}
