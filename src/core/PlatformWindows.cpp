#include "core/Platform.h"

#include "core/Error.h"
#include "core/ProxyList.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

#include <algorithm>
#include <array>
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>

#include <tlhelp32.h>
#include <winhttp.h>

namespace {

// The system's own text for a Windows error code, in the user's language.
QString WindowsErrorText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0)
        return QStringLiteral("Windows error %1").arg(code);
    const QString text = QString::fromWCharArray(buffer, length).trimmed();
    LocalFree(buffer);
    return text;
}

[[noreturn]] void ThrowSystemError(const QString& action, DWORD code) {
    throw TError(action + QStringLiteral(". ") + WindowsErrorText(code));
}

[[noreturn]] void ThrowLastError(const QString& action) {
    ThrowSystemError(action, GetLastError());
}

HANDLE Handle(qintptr handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// A path as the file functions take it. One too long for the classic limit of 260 characters gets the
// "\\?\" form, which knows no such limit (and takes the path as it is: no "." or ".." of its own).
std::wstring NativePath(const QString& path) {
    QString native = QDir::toNativeSeparators(path);
    if (native.size() < MAX_PATH - 12 || native.startsWith(QStringLiteral("\\\\?\\")))
        return native.toStdWString();
    native = QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    if (native.startsWith(QStringLiteral("\\\\")))
        return QString(QStringLiteral("\\\\?\\UNC\\") + native.mid(2)).toStdWString();
    return QString(QStringLiteral("\\\\?\\") + native).toStdWString();
}

// Sets the end of the file without the file pointer, which an overlapped handle does not use for I/O.
bool SetFileSize(HANDLE file, qint64 size) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = size;
    return SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end);
}

// A manual-reset event for one read or write on an overlapped handle, so that calls on other threads
// that wait on the same handle meanwhile never take each other's completion.
class TCompletionEvent {
  public:
    TCompletionEvent()
        : FEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~TCompletionEvent() {
        if (FEvent)
            CloseHandle(FEvent);
    }
    TCompletionEvent(const TCompletionEvent&) = delete;
    TCompletionEvent& operator=(const TCompletionEvent&) = delete;
    HANDLE Get() const { return FEvent; }

  private:
    HANDLE FEvent;
};

// Starts a read or write at offset through start(count, overlapped) and waits for its end: the number
// of bytes moved, 0 when reading at the end of the file, or -1. ReadFile and WriteFile take a 32-bit
// count: a larger block moves in part.
template <typename TStart> qint64 TransferAt(HANDLE file, qint64 offset, qint64 count, TStart start) {
    if (offset < 0 || count < 0)
        return -1;
    const TCompletionEvent done;
    if (!done.Get())
        return -1;
    OVERLAPPED at{};
    at.Offset = DWORD(quint64(offset) & 0xFFFFFFFFu);
    at.OffsetHigh = DWORD(quint64(offset) >> 32);
    at.hEvent = done.Get();
    DWORD moved = 0;
    if ((!start(DWORD(std::min<qint64>(count, 1 << 30)), &at) && GetLastError() != ERROR_IO_PENDING) ||
        !GetOverlappedResult(file, &at, &moved, TRUE))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return moved;
}

qint64 WriteFileAt(HANDLE file, qint64 offset, const char* data, qint64 count) {
    return TransferAt(file, offset, count,
                      [&](DWORD chunk, OVERLAPPED* at) { return WriteFile(file, data, chunk, nullptr, at); });
}

} // namespace

TExclusiveFile::TExclusiveFile(const QString& path, TExisting existing) {
    // Share mode delete only: while this handle is open, every other open of the file for reading or
    // writing fails with a sharing violation, ours and other programs' alike, but the file can still be
    // removed (it goes once the last handle closes), so that a download that fails or is killed leaves
    // nothing behind. The handle is not inheritable (no security attributes). A reparse point (a link)
    // is opened as itself and refused, never followed. The handle is overlapped: every read and write
    // names its offset, so that the checksum thread's reads and the download's writes run side by side
    // on the one handle the share mode allows, and neither moves the file pointer, which serves as the
    // position of Write alone.
    const QString failure = QStringLiteral("Cannot create file \"%1\"").arg(path);
    const HANDLE file = CreateFileW(
        NativePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION)
        throw TFileInUse(failure + QStringLiteral(". ") + WindowsErrorText(ERROR_SHARING_VIOLATION));
    if (file == INVALID_HANDLE_VALUE)
        ThrowLastError(failure);
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(file, &information)) {
        const DWORD code = GetLastError();
        CloseHandle(file);
        ThrowSystemError(failure, code);
    }
    if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        CloseHandle(file);
        ThrowSystemError(failure, ERROR_CANT_RESOLVE_FILENAME);
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) ||
        (existing == TExisting::Cut && size.QuadPart > 0 && !SetFileSize(file, 0))) {
        const DWORD code = GetLastError();
        CloseHandle(file);
        ThrowSystemError(failure, code);
    }
    FHandle = reinterpret_cast<qintptr>(file);
}

TExclusiveFile::~TExclusiveFile() {
    CloseHandle(Handle(FHandle));
}

qint64 TExclusiveFile::Write(const char* data, qint64 count) {
    const HANDLE file = Handle(FHandle);
    LARGE_INTEGER position{};
    if (!SetFilePointerEx(file, LARGE_INTEGER{}, &position, FILE_CURRENT))
        return -1;
    const qint64 written = WriteFileAt(file, position.QuadPart, data, count);
    if (written > 0) {
        position.QuadPart += written;
        SetFilePointerEx(file, position, nullptr, FILE_BEGIN);
    }
    return written;
}

qint64 TExclusiveFile::WriteAt(qint64 offset, const char* data, qint64 count) {
    return WriteFileAt(Handle(FHandle), offset, data, count);
}

qint64 TExclusiveFile::ReadAt(qint64 offset, char* data, qint64 count) const {
    const HANDLE file = Handle(FHandle);
    return TransferAt(file, offset, count,
                      [&](DWORD chunk, OVERLAPPED* at) { return ReadFile(file, data, chunk, nullptr, at); });
}

qint64 TExclusiveFile::Position() const {
    LARGE_INTEGER position{};
    if (!SetFilePointerEx(Handle(FHandle), LARGE_INTEGER{}, &position, FILE_CURRENT))
        ThrowLastError(QStringLiteral("Cannot read the file position"));
    return position.QuadPart;
}

void TExclusiveFile::SetPosition(qint64 position) {
    LARGE_INTEGER target{};
    target.QuadPart = position;
    if (!SetFilePointerEx(Handle(FHandle), target, nullptr, FILE_BEGIN))
        ThrowLastError(QStringLiteral("Cannot set the file position"));
}

qint64 TExclusiveFile::Size() const {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(Handle(FHandle), &size))
        ThrowLastError(QStringLiteral("Cannot read the file size"));
    return size.QuadPart;
}

// The position stays where it was, as ftruncate leaves it.
void TExclusiveFile::Resize(qint64 size) {
    if (!SetFileSize(Handle(FHandle), size))
        ThrowLastError(QStringLiteral("Cannot set the file size"));
}

namespace {

// The files to remove should the process be ended from outside. The console control handler runs on a
// thread of its own, so the list is guarded by a mutex.
struct TKilledFileRegistry {
    std::mutex Guard;
    std::array<std::wstring, 16> Paths;
};

TKilledFileRegistry& Registry() {
    static TKilledFileRegistry registry;
    return registry;
}

// Ctrl+C, a closed console, logoff and shutdown: the registered files go, then the process ends as it
// would have.
BOOL WINAPI RemoveRegisteredFiles(DWORD) {
    TKilledFileRegistry& registry = Registry();
    const std::lock_guard lock(registry.Guard);
    for (const std::wstring& path : registry.Paths) {
        if (!path.empty())
            DeleteFileW(path.c_str());
    }
    return FALSE;
}

// Whether RemoveRegisteredFiles was installed: a console change (AskToEnd) clears the process's list of
// handlers, so it is installed again after one.
std::atomic<bool> removalHandlerInstalled{false};

void InstallRemovalHandler() {
    SetConsoleCtrlHandler(RemoveRegisteredFiles, FALSE);
    SetConsoleCtrlHandler(RemoveRegisteredFiles, TRUE);
}

} // namespace

TRemovedIfKilled::TRemovedIfKilled(const QString& path) {
    static std::once_flag installed;
    std::call_once(installed, [] {
        InstallRemovalHandler();
        removalHandlerInstalled = true;
    });
    TKilledFileRegistry& registry = Registry();
    const std::lock_guard lock(registry.Guard);
    for (FSlot = 0; FSlot < int(registry.Paths.size()); ++FSlot) {
        if (registry.Paths[FSlot].empty()) {
            registry.Paths[FSlot] = NativePath(QFileInfo(path).absoluteFilePath());
            return;
        }
    }
    throw TError(
        QStringLiteral("Cannot register file \"%1\" for removal should the process be ended").arg(path));
}

TRemovedIfKilled::~TRemovedIfKilled() {
    TKilledFileRegistry& registry = Registry();
    const std::lock_guard lock(registry.Guard);
    registry.Paths[FSlot].clear();
}

void RemoveFile(const QString& path) {
    if (DeleteFileW(NativePath(path).c_str()))
        return;
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
        return;
    ThrowSystemError(QStringLiteral("Cannot delete file \"%1\"").arg(path), code);
}

void StartHidden(QProcess& process) {
    // A console program started from a window program would get a console window of its own; here its
    // console has no window, so nobody sees it or types into it. The program leads a process group of
    // its own, so that AskToEnd can send it Ctrl+Break. It starts suspended: KeepWithThisProcess puts it
    // in the job before it runs.
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments* arguments) {
        arguments->flags |= CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED;
    });
}

namespace {

// The job of the client programs. Its one handle is never closed and never inherited: it closes when
// this process ends, however that happens, and the system then ends every process in the job.
HANDLE ClientJob() {
    static const HANDLE job = [] {
        const HANDLE created = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (created &&
            !SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
            CloseHandle(created);
            return HANDLE(nullptr);
        }
        return created;
    }();
    return job;
}

// Resumes every thread of a process started suspended (that is its first thread alone).
void ResumeThreads(DWORD processId) {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != processId)
            continue;
        if (const HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID)) {
            ResumeThread(thread);
            CloseHandle(thread);
        }
    }
    CloseHandle(snapshot);
}

} // namespace

// A program that cannot join the job (the system refuses nested jobs before Windows 8) still runs, as
// it did before jobs were used.
void KeepWithThisProcess(QProcess& process) {
    const qint64 id = process.processId();
    if (id <= 0)
        return;
    if (const HANDLE job = ClientJob()) {
        if (const HANDLE child = OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, DWORD(id))) {
            AssignProcessToJobObject(job, child);
            CloseHandle(child);
        }
    }
    ResumeThreads(DWORD(id));
}

// Ctrl+Break is how a console program is asked to end (the PostgreSQL client programs cancel their
// query and end on it). It goes to the program's process group through its console, which this process
// joins for the moment: a window program has no console of its own, and one that has gets its parent's
// back afterwards. Where the system does not deliver it (Wine 8 refuses the event), the program is
// ended at once, as a grace would not help it.
void AskToEnd(QProcess& process) {
    const qint64 id = process.processId();
    if (id <= 0)
        return;
    const bool hadConsole = GetConsoleCP() != 0;
    FreeConsole();
    bool asked = false;
    if (AttachConsole(DWORD(id))) {
        asked = GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, DWORD(id));
        FreeConsole();
    }
    if (hadConsole)
        AttachConsole(ATTACH_PARENT_PROCESS);
    if (removalHandlerInstalled)
        InstallRemovalHandler();
    if (!asked)
        ForceEnd(process);
}

namespace {

// When a process was created; zero when it cannot be opened (it has ended).
quint64 CreationTime(DWORD id) {
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (!process)
        return 0;
    FILETIME created{}, exited{}, kernel{}, user{};
    const bool known = GetProcessTimes(process, &created, &exited, &kernel, &user);
    CloseHandle(process);
    return known ? (quint64(created.dwHighDateTime) << 32) | created.dwLowDateTime : 0;
}

// The processes that root started, and theirs, as the system lists them now. A process names its
// parent by ID only, and an ended parent's ID may have been given to another process since: a child is
// only taken for one when it was created after the parent.
std::vector<DWORD> Descendants(DWORD root) {
    std::vector<std::pair<DWORD, DWORD>> parents; // process, its parent
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return {};
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        parents.emplace_back(entry.th32ProcessID, entry.th32ParentProcessID);
    CloseHandle(snapshot);

    std::vector<DWORD> found{root};
    for (size_t i = 0; i < found.size(); ++i) {
        const quint64 parentCreated = CreationTime(found[i]);
        if (parentCreated == 0)
            continue;
        for (const auto& [id, parent] : parents) {
            if (parent == found[i] && std::find(found.begin(), found.end(), id) == found.end() &&
                CreationTime(id) >= parentCreated)
                found.push_back(id);
        }
    }
    found.erase(found.begin());
    return found;
}

} // namespace

// The program and the processes it started are ended at once. Windows keeps no process group that
// could be ended in one call, so they are looked up by their parents just before.
void ForceEnd(QProcess& process) {
    if (const qint64 id = process.processId(); id > 0) {
        for (const DWORD descendant : Descendants(DWORD(id))) {
            if (const HANDLE handle = OpenProcess(PROCESS_TERMINATE, FALSE, descendant)) {
                TerminateProcess(handle, 1);
                CloseHandle(handle);
            }
        }
    }
    process.kill();
}

QString ProgramFileName(const QString& baseName) {
    return baseName + QStringLiteral(".exe");
}

QString JoinNativePath(const QString& folder, const QString& name) {
    if (folder.endsWith(u'/') || folder.endsWith(u'\\'))
        return folder + name;
    return folder + u'\\' + name;
}

void RenameFile(const QString& from, const QString& to) {
    if (!MoveFileExW(NativePath(from).c_str(), NativePath(to).c_str(), MOVEFILE_REPLACE_EXISTING))
        ThrowLastError(QStringLiteral("Cannot rename file \"%1\" to \"%2\"").arg(from, to));
}

bool ProgramArgumentsCarry(const QString& text) {
    // A system whose ANSI code page is UTF-8 carries every character; that code page takes no flags.
    if (GetACP() == CP_UTF8 || text.isEmpty())
        return true;
    const std::wstring wide = text.toStdWString();
    BOOL usedDefault = FALSE;
    const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), int(wide.size()), nullptr,
                                         0, nullptr, &usedDefault);
    return size > 0 && !usedDefault;
}

QString ProgramArgumentsCodePage() {
    return QStringLiteral("Windows' ANSI code page %1").arg(GetACP());
}

namespace {

// A text WinHTTP allocated, freed when it goes.
struct TGlobalText {
    wchar_t* Text = nullptr;
    ~TGlobalText() {
        if (Text)
            GlobalFree(Text);
    }
    QString Value() const { return Text ? QString::fromWCharArray(Text) : QString(); }
};

struct TSessionCloser {
    void operator()(HINTERNET session) const { WinHttpCloseHandle(session); }
};

// What the PAC script (found automatically, or at configUrl) says for the URL: a proxy list, empty for
// direct, or nothing when there is no script or it cannot be run.
std::optional<QString> PacProxyList(const QString& url, bool autoDetect, const QString& configUrl) {
    const std::unique_ptr<void, TSessionCloser> session(WinHttpOpen(
        L"Corvane", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session)
        return std::nullopt;
    WINHTTP_AUTOPROXY_OPTIONS options{};
    const std::wstring scriptUrl = configUrl.toStdWString();
    if (!configUrl.isEmpty()) {
        options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = scriptUrl.c_str();
    } else if (autoDetect) {
        options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    } else {
        return std::nullopt;
    }
    // The user's own credentials may be needed to fetch the script.
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info{};
    if (!WinHttpGetProxyForUrl(session.get(), url.toStdWString().c_str(), &options, &info))
        return std::nullopt;
    const TGlobalText proxy{info.lpszProxy};
    const TGlobalText bypass{info.lpszProxyBypass};
    return info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY ? proxy.Value() : QString();
}

std::optional<QString> AskUserProxy(const QUrl& url) {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&config))
        return std::nullopt;
    const TGlobalText configUrl{config.lpszAutoConfigUrl};
    const TGlobalText proxy{config.lpszProxy};
    const TGlobalText bypass{config.lpszProxyBypass};
    if (BypassesProxy(bypass.Value(), url.host()))
        return QString();
    if (config.fAutoDetect || !configUrl.Value().isEmpty()) {
        if (const auto list = PacProxyList(url.toString(), config.fAutoDetect, configUrl.Value()))
            return ProxyForScheme(*list, url.scheme());
    }
    if (proxy.Value().isEmpty())
        return std::nullopt;
    return ProxyForScheme(proxy.Value(), url.scheme());
}

} // namespace

// Windows programs follow the user's Internet settings, not the environment: a PAC script's "DIRECT" or
// a host on the bypass list sends the request direct (an empty text turns libcurl's own reading of the
// proxy variables off); settings that name no proxy at all leave that reading as it is.
std::optional<QString> UserProxyFor(const QString& url) {
    static std::mutex guard;
    static std::map<QString, std::optional<QString>> known; // by scheme and host
    const QUrl parsed(url);
    const QString origin = parsed.scheme() + QStringLiteral("://") + parsed.host();
    const std::lock_guard lock(guard);
    if (const auto found = known.find(origin); found != known.end())
        return found->second;
    return known[origin] = AskUserProxy(parsed);
}
