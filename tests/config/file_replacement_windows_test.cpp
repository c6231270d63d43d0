// WriteConfigFile on Windows, run under Wine as an unprivileged user: every
// case builds a folder of its own, writes, and then compares every entry of
// the folder with how it was before: only the files the case names may
// change, each keeps its attributes (and its file index where it is written
// in place), a failed write changes nothing, and no copy is left behind.
// Files held open by other programs are held by windows_file_holder.exe, a
// second process, as an editor or the game server would hold them.

#include "config_file_writer.h"
#include "program_folder.h"
#include "unicode_text.h"
#include "windows_writer_lock.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <thread>

#include <windows.h>

#include <sddl.h>

using namespace ornivex;

namespace {

const std::wstring kName = L"ORNIVEX_CONFIG.txt";
const std::wstring kCopy = L'.' + kName + L".new"; // where a writer of this tool writes first
const std::wstring kTheFile = L"<the file>";       // ORNIVEX_CONFIG.txt in the folder written to

// The attributes a write must keep; Archive and the like may change.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM
    | FILE_ATTRIBUTE_DIRECTORY;

std::string utf8(const std::wstring &text)
{
    return toUtf8(std::u16string(text.begin(), text.end()));
}

// The test's own calls take the \\?\ prefix, so that long paths work.
std::wstring longPath(const std::wstring &path)
{
    return LR"(\\?\)" + path;
}

struct Entry {
    DWORD attributes;
    std::uint64_t index;
    DWORD links;
    std::string content; // of a file
    bool operator==(const Entry &) const = default;
};

Entry entryOf(const std::wstring &path)
{
    Entry entry{};
    // Attributes can be read whatever the sharing of those who hold it.
    const HANDLE file = ::CreateFileW(longPath(path).c_str(), FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION info = {};
    if (file != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(file, &info)) {
        entry.attributes = info.dwFileAttributes & kKeptAttributes;
        entry.index = std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
        entry.links = info.nNumberOfLinks;
    }
    ::CloseHandle(file);
    if (!(entry.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        std::ifstream data(std::filesystem::path(longPath(path)), std::ios::binary);
        entry.content.assign(std::istreambuf_iterator<char>(data), {});
    }
    return entry;
}

// Calls `visit` with every entry below the folder, by path relative to it,
// children before their folder.
void walk(const std::wstring &root, const std::wstring &relative,
          const std::function<void(const std::wstring &, DWORD)> &visit)
{
    WIN32_FIND_DATAW found = {};
    const std::wstring folder = relative.empty() ? root : root + L'\\' + relative;
    const HANDLE search = ::FindFirstFileW(longPath(folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring path = relative.empty() ? name : relative + L'\\' + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            walk(root, path, visit);
        visit(path, found.dwFileAttributes);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

std::map<std::wstring, Entry> listTree(const std::wstring &root)
{
    std::map<std::wstring, Entry> tree;
    walk(root, L"", [&](const std::wstring &path, DWORD) { tree.emplace(path, entryOf(root + L'\\' + path)); });
    return tree;
}

// The user's own SID, for access control entries about this user.
std::wstring userSid()
{
    HANDLE token = nullptr;
    std::string buffer(256, '\0');
    DWORD size = 0;
    wchar_t *sid = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)
        || !::GetTokenInformation(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &size)
        || !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid, &sid))
        return L"<unknown>";
    std::wstring text = sid;
    ::LocalFree(sid);
    ::CloseHandle(token);
    return text;
}

std::u16string userName()
{
    const std::wstring_view name = ::_wgetenv(L"USERNAME") ? ::_wgetenv(L"USERNAME") : L"<unknown>";
    return {name.begin(), name.end()};
}

// Everyone may do everything, or only read and list; and a file this user
// may not write, though the Read-only attribute is not set.
const std::wstring kOpenToAll = L"D:P(A;OICI;FA;;;WD)";
const std::wstring kListOnly = L"D:P(A;;FRFX;;;WD)";
const std::wstring kDeniesThisUserWriting = L"D:P(D;;FW;;;" + userSid() + L")(A;;FA;;;WD)";

// A program other than the test that holds a file open.
class Holder {
public:
    Holder() = default;
    Holder(const Holder &) = delete;
    Holder &operator=(const Holder &) = delete;
    ~Holder() { end(); }

    // Starts windows_file_holder.exe (see there for the arguments) and
    // waits until it holds the file; "" or what went wrong.
    std::string start(const std::wstring &path, const std::wstring &share, const std::wstring &mode = L"")
    {
        HANDLE readEnd = nullptr;
        HANDLE writeEnd = nullptr;
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0))
            return "no pipe";
        ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = writeEnd;
        startup.hStdError = writeEnd;
        const std::wstring program = (ProgramFolder() / L"windows_file_holder.exe").native();
        std::wstring command = L'"' + program + L"\" \"" + longPath(path) + L"\" " + share + L' ' + mode;
        const bool started = ::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                              nullptr, &startup, &m_process);
        ::CloseHandle(writeEnd);
        std::string said;
        std::array<char, 256> buffer{};
        DWORD got = 0;
        while (started && said.find('\n') == std::string::npos
               && ::ReadFile(readEnd, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0)
            said.append(buffer.data(), got);
        ::CloseHandle(readEnd);
        if (!started)
            return "cannot start " + utf8(program);
        return said.starts_with("ready") ? "" : "the holder said: " + said;
    }

    // Waits for it to end by itself; its exit code, or STILL_ACTIVE when
    // it has not ended within a minute.
    DWORD awaitEnd() const
    {
        DWORD status = STILL_ACTIVE;
        if (::WaitForSingleObject(m_process.hProcess, 60000) == WAIT_OBJECT_0)
            ::GetExitCodeProcess(m_process.hProcess, &status);
        return status;
    }

    // Ends it at once, as a crash would, and waits until it is gone.
    void end()
    {
        if (!m_process.hProcess)
            return;
        ::TerminateProcess(m_process.hProcess, 1);
        ::WaitForSingleObject(m_process.hProcess, INFINITE);
        ::CloseHandle(m_process.hProcess);
        ::CloseHandle(m_process.hThread);
        m_process = {};
    }

private:
    PROCESS_INFORMATION m_process{};
};

// The folder a case builds and writes in.
struct Scene {
    std::wstring root;                             // without the \\?\ prefix, as the program would get it
    std::optional<std::wstring> writeDir{L""};     // where the program writes, relative to root; none: no folder
    std::vector<std::wstring> removed;             // entries the write is to remove
    std::vector<std::array<std::wstring, 3>> held; // path, sharing and the holder's mode
    std::vector<std::unique_ptr<Holder>> holders;

    std::wstring path(const std::wstring &relative) const { return relative.empty() ? root : root + L'\\' + relative; }

    void file(const std::wstring &relative, const std::string &content, DWORD attributes = 0) const
    {
        const HANDLE file = ::CreateFileW(longPath(path(relative)).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << ::GetLastError();
        DWORD written = 0;
        EXPECT_TRUE(::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
        ::CloseHandle(file);
        if (attributes) {
            ASSERT_TRUE(::SetFileAttributesW(longPath(path(relative)).c_str(), attributes)) << ::GetLastError();
        }
    }
    void folder(const std::wstring &relative) const
    {
        ASSERT_TRUE(::CreateDirectoryW(longPath(path(relative)).c_str(), nullptr)) << ::GetLastError();
    }
    void hardLink(const std::wstring &existing, const std::wstring &relative) const
    {
        ASSERT_TRUE(::CreateHardLinkW(longPath(path(relative)).c_str(), longPath(path(existing)).c_str(), nullptr))
            << ::GetLastError();
    }
    // A symbolic link made by Linux's ln, which Wine starts like a Windows
    // program: Wine's CreateSymbolicLinkW makes nothing.
    void unixLink(const std::wstring &folder, const std::wstring &name, const std::wstring &target) const
    {
        std::wstring command = L"ln -s " + target + L' ' + name;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!::CreateProcessW(L"Z:\\bin\\ln", command.data(), nullptr, nullptr, FALSE, 0, nullptr, path(folder).c_str(),
                              &startup, &process))
            GTEST_SKIP() << "needs Wine, which runs Linux's ln to make a Unix symbolic link";
        ::CloseHandle(process.hProcess);
        ::CloseHandle(process.hThread);
        // Wine's handle of a Linux program does not wait for its end.
        const std::wstring link = longPath(path(folder) + L'\\' + name);
        const ULONGLONG deadline = ::GetTickCount64() + 10000;
        while (::GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES)
            ASSERT_LT(::GetTickCount64(), deadline) << "ln made no link";
    }
    // Wine turns the access list into the Unix mode, so that it holds for the
    // Unix calls as well.
    void security(const std::wstring &relative, const std::wstring &sddl) const
    {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                                           nullptr));
        const bool set = ::SetFileSecurityW(longPath(path(relative)).c_str(), DACL_SECURITY_INFORMATION, descriptor);
        ::LocalFree(descriptor);
        ASSERT_TRUE(set) << ::GetLastError();
    }
    // Another program holds the file with the given sharing (and in the
    // given mode of windows_file_holder) while the program writes; not yet
    // while the folder is listed before, nor after.
    void hold(const std::wstring &relative, const std::wstring &share, const std::wstring &mode = L"")
    {
        held.push_back({relative, share, mode});
    }
    void startHolders()
    {
        for (const auto &[relative, share, mode] : held) {
            holders.push_back(std::make_unique<Holder>());
            ASSERT_EQ(holders.back()->start(path(relative), share, mode), "");
        }
    }
    void endHolders()
    {
        for (const auto &holder : holders)
            holder->end();
    }
    // A writer of this tool ended in the middle of writing its copy.
    void crashedWriter() const
    {
        Holder writer;
        ASSERT_EQ(writer.start(path(kCopy), L"-", L"copy"), "");
        writer.end();
        ASSERT_NE(::GetFileAttributesW(longPath(path(kCopy)).c_str()), INVALID_FILE_ATTRIBUTES)
            << "the ended writer left no copy behind";
    }
};

// A folder on a full disk: the scripts mount a small tmpfs for the test user
// and pass its path, as Wine reaches it, in ORNIVEX_SMALL_DISK.
std::optional<std::wstring> smallDisk()
{
    const char *disk = std::getenv("ORNIVEX_SMALL_DISK");
    if (!disk || !*disk)
        return std::nullopt;
    const std::u16string path = fromUtf8(disk);
    return std::wstring(path.begin(), path.end());
}

std::wstring deepFolder(const Scene &scene)
{
    std::wstring relative;
    while (scene.path(relative).size() < 300) {
        relative += (relative.empty() ? L"" : L"\\") + std::wstring(60, L'd');
        scene.folder(relative);
    }
    return relative;
}

// What a case checks beyond the entries of its folder.
enum Checks : unsigned {
    InPlace = 1,        // the written file keeps its index
    OnSmallDisk = 2,    // the folder is on a full disk, and message 9 is long
    GivesAdvice = 4,    // the report says what to do
    NamesTheUser = 8,   // ... and names the user whom the permissions refuse
    NamesReadOnly = 16, // ... and names the Read-only attribute
    OneFile = 32,       // the written entries are one file under two names
};

struct Case {
    const char *name;
    DWORD error; // 0 or the ConfigWriteError's number
    unsigned checks;
    std::wstring shown;
    std::vector<std::wstring> written;
    std::function<void(Scene &)> arrange;
};

void PrintTo(const Case &row, std::ostream *out)
{
    *out << row.name;
}

// Each case names: the error (0: success), the path the error names, the
// entries that end up holding the new file, and how the folder is built.
// All paths are relative to the folder's root.
// clang-format off
const Case kCases[] = {
    {"NewFile", 0, 0, L"", {kTheFile}, [](Scene &) {}},
    {"ALongerFileIsReplacedWhole", 0, 0, L"", {kTheFile}, [](Scene &s) { s.file(kName, std::string(5000, 'z')); }},
    // Windows refuses CREATE_ALWAYS on a hidden or system file unless the
    // call names the same attributes, so a plain write fails there; Wine
    // accepts it. ReplaceFileW keeps the attributes on Windows, Wine drops them.
    {"HiddenFileStaysHidden", 0, 0, L"", {kTheFile},
     [](Scene &s) { s.file(kName, "old", FILE_ATTRIBUTE_HIDDEN); }},
    {"HiddenSystemFileKeepsBoth", 0, 0, L"", {kTheFile},
     [](Scene &s) { s.file(kName, "old", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM); }},
    // The new file cannot carry an access list set on the earlier one: ReplaceFileW keeps it.
    {"FileWithAnAccessListOfItsOwn", 0, 0, L"", {kTheFile},
     [](Scene &s) { s.file(kName, "old", FILE_ATTRIBUTE_HIDDEN); s.security(kName, kOpenToAll); }},
    {"HardLinkedFileIsWrittenInPlace", 0, InPlace, L"", {kName, L"second name"},
     [](Scene &s) { s.file(kName, "old"); s.hardLink(kName, L"second name"); }},
    {"WritableFileInAFolderThatRefusesNewFiles", 0, InPlace, L"", {kTheFile}, [](Scene &s) {
         s.folder(L"locked");
         s.file(L"locked\\" + kName, std::string(3000, 'z'));
         s.security(L"locked", kListOnly);
         s.writeDir = L"locked";
     }},
    {"HeldOpenSharingWritingNotDeletion", 0, InPlace, L"", {kTheFile},
     [](Scene &s) { s.file(kName, "old"); s.hold(kName, L"rw"); }},
    {"HeldOpenSharingAll", 0, 0, L"", {kTheFile}, [](Scene &s) { s.file(kName, "old"); s.hold(kName, L"rwd"); }},
    {"GermanFolderName", 0, 0, L"", {kTheFile},
     [](Scene &s) { s.folder(L"Gr\u00f6\u00dfe"); s.writeDir = L"Gr\u00f6\u00dfe"; }},
    {"CyrillicFolderName", 0, 0, L"", {kTheFile}, [](Scene &s) {
         s.folder(L"\u041f\u0430\u043f\u043a\u0430");
         s.file(L"\u041f\u0430\u043f\u043a\u0430\\" + kName, "old");
         s.writeDir = L"\u041f\u0430\u043f\u043a\u0430";
     }},
    {"EmojiFolderName", 0, 0, L"", {kTheFile},
     [](Scene &s) { s.folder(L"Server \U0001F3AE"); s.writeDir = L"Server \U0001F3AE"; }},
    {"PathOver260Characters", 0, 0, L"", {kTheFile}, [](Scene &s) {
         s.writeDir = deepFolder(s);
         s.file(*s.writeDir + L'\\' + kName, "old");
     }},
    {"FolderGivenWithSlashesAndATrailingOne", 0, 0, L"", {kTheFile}, [](Scene &s) {
         s.folder(L"server");
         s.writeDir = L"server/./";
     }},
    // Names that Win32 rewrites: it drops a trailing space (and would write
    // into the sibling "srv") and turns "aux" into a device.
    {"FolderNameEndingInASpace", 0, 0, L"", {kTheFile},
     [](Scene &s) { s.folder(L"srv"); s.folder(L"srv "); s.writeDir = L"srv "; }},
    {"FolderNamedLikeADevice", 0, 0, L"", {kTheFile}, [](Scene &s) { s.folder(L"aux"); s.writeDir = L"aux"; }},
    // Wine shows a Unix link as a plain file: the file it leads to is
    // written, and the link stays.
    {"SymbolicLinkToAFileElsewhere", 0, OneFile, L"", {kTheFile, L"real\\cfg.txt"}, [](Scene &s) {
         s.folder(L"app");
         s.folder(L"real");
         s.file(L"real\\cfg.txt", "old");
         s.unixLink(L"app", kName, L"../real/cfg.txt");
         s.writeDir = L"app";
     }},
    {"CopyACrashLeftBehindGoes", 0, 0, L"", {kName},
     [](Scene &s) { s.file(kName, "old"); s.crashedWriter(); s.removed.push_back(kCopy); }},
    {"CopyAnotherWriterHoldsStays", 0, 0, L"", {kName}, [](Scene &s) {
         s.file(kName, "old");
         s.file(kCopy, "another writer's copy", FILE_ATTRIBUTE_HIDDEN);
         s.hold(kCopy, L"-");
     }},

    {"NoFolderIsNoWorkingDirectory", ERROR_PATH_NOT_FOUND, GivesAdvice, kName, {},
     [](Scene &s) { s.file(kName, "the working directory's own"); s.writeDir.reset(); }},
    {"MissingFolder", ERROR_PATH_NOT_FOUND, GivesAdvice, L"missing\\" + kName, {},
     [](Scene &s) { s.writeDir = L"missing"; }},
    {"FolderInTheWay", ERROR_ACCESS_DENIED, GivesAdvice, kName, {}, [](Scene &s) { s.folder(kName); }},
    // Wine lets root write a read-only file; the test runs as another user.
    {"ReadOnlyFile", ERROR_ACCESS_DENIED, GivesAdvice | NamesReadOnly, kName, {},
     [](Scene &s) { s.file(kName, "old", FILE_ATTRIBUTE_READONLY); }},
    {"FileThatDeniesThisUserWriting", ERROR_ACCESS_DENIED, GivesAdvice | NamesTheUser, kName, {},
     [](Scene &s) { s.file(kName, "old"); s.security(kName, kDeniesThisUserWriting); }},
    {"NewFileInAFolderThatRefusesNewFiles", ERROR_ACCESS_DENIED, GivesAdvice | NamesTheUser, L"locked\\" + kName, {},
     [](Scene &s) {
         s.folder(L"locked");
         s.security(L"locked", kListOnly);
         s.writeDir = L"locked";
     }},
    {"HeldOpenSharingOnlyReading", ERROR_SHARING_VIOLATION, GivesAdvice, kName, {},
     [](Scene &s) { s.file(kName, "old"); s.hold(kName, L"r"); }},
    {"HeldOpenSharingNothing", ERROR_SHARING_VIOLATION, GivesAdvice, kName, {},
     [](Scene &s) { s.file(kName, "old"); s.hold(kName, L"-"); }},
    // Another writer of this tool writing in place holds the writers' lock
    // for longer than a writer waits (a program that stopped).
    {"InPlaceWhileAnotherWriterHoldsTheLock", ERROR_LOCK_VIOLATION, GivesAdvice, kName, {}, [](Scene &s) {
         s.file(kName, "old");
         s.hardLink(kName, L"second name");
         s.hold(kName, L"rwd", L"lock");
     }},
    // Wine's WriteFile returns a short count on a full disk without an
    // error, and only the next call fails; it cannot reserve space either.
    {"FullDisk", ERROR_DISK_FULL, OnSmallDisk | GivesAdvice, kName, {},
     [](Scene &s) { s.file(kName, "[WeaponBan]\r\n"); }},
};
// clang-format on

// Creates the scene's folder in `base`.
void createRoot(Scene &scene, std::wstring base)
{
    while (!base.empty() && (base.back() == L'\\' || base.back() == L'/'))
        base.pop_back();
    scene.root = base + L"\\ornivex-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-"
        + std::to_wstring(::GetTickCount64());
    ASSERT_TRUE(::CreateDirectoryW(longPath(scene.root).c_str(), nullptr)) << ::GetLastError();
}

// Ends the holders and removes everything, whatever its attributes and access list.
void removeRoot(Scene &scene)
{
    scene.endHolders();
    if (scene.root.empty())
        return;
    walk(scene.root, L"", [&](const std::wstring &relative, DWORD attributes) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            scene.security(relative, kOpenToAll);
    });
    walk(scene.root, L"", [&](const std::wstring &relative, DWORD attributes) {
        const std::wstring path = longPath(scene.path(relative));
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            ::RemoveDirectoryW(path.c_str());
        } else {
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(path.c_str());
        }
    });
    ::RemoveDirectoryW(longPath(scene.root).c_str());
}

class WindowsFileReplacementTest : public testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        std::wstring base = std::filesystem::temp_directory_path().native();
        if (GetParam().checks & OnSmallDisk) {
            const std::optional<std::wstring> disk = smallDisk();
            if (!disk)
                GTEST_SKIP() << "needs a small disk to fill: set ORNIVEX_SMALL_DISK to an empty folder on a tmpfs "
                                "of 64 KiB (scripts/windows_tests.sh mounts one)";
            base = *disk;
        }
        createRoot(m_scene, base);
    }
    void TearDown() override { removeRoot(m_scene); }

    Scene m_scene;
};

TEST_P(WindowsFileReplacementTest, ChangesOnlyWhatAPlainWriteWouldAndNeverHalfway)
{
    const Case &row = GetParam();
    row.arrange(m_scene);
    if (HasFatalFailure() || IsSkipped())
        return;
    ConfigSnapshot snapshot = ConfigSnapshot::initial();
    if (row.checks & OnSmallDisk)
        snapshot.messages[9] = std::u16string(100000, u'x');
    const std::string expected = FormatConfigFile(snapshot);

    const std::map<std::wstring, Entry> before = listTree(m_scene.root);
    m_scene.startHolders();
    if (HasFatalFailure())
        return;
    std::optional<ConfigWriteError> error;
    try {
        WriteConfigFile(snapshot, m_scene.writeDir ? m_scene.path(*m_scene.writeDir) : std::wstring());
    } catch (const ConfigWriteError &thrown) {
        error = thrown;
    }
    m_scene.endHolders();
    const std::map<std::wstring, Entry> after = listTree(m_scene.root);

    EXPECT_EQ(error ? static_cast<DWORD>(error->number()) : 0, row.error) << (error ? error->what() : "");
    if (error && row.error) {
        const std::wstring shown = m_scene.writeDir ? m_scene.path(row.shown) : row.shown;
        const std::u16string head = u"Cannot write " + std::u16string(shown.begin(), shown.end()) + u": ";
        EXPECT_TRUE(error->description().starts_with(head)) << error->what();
        EXPECT_FALSE(error->systemText().empty());
        EXPECT_FALSE(error->fileChanged());
        const std::u16string &advice = error->advice();
        EXPECT_EQ(advice.empty(), !(row.checks & GivesAdvice)) << toUtf8(advice);
        EXPECT_EQ(advice.find(userName()) != std::u16string::npos, (row.checks & NamesTheUser) != 0) << toUtf8(advice);
        EXPECT_EQ(advice.find(u"Read-only") != std::u16string::npos, (row.checks & NamesReadOnly) != 0)
            << toUtf8(advice);
    }

    std::vector<std::wstring> written = row.written;
    std::wstring folder = m_scene.writeDir.value_or(L"");
    std::replace(folder.begin(), folder.end(), L'/', L'\\');
    for (const std::wstring_view dot : {L"\\.\\", L"\\"}) {
        while (folder.ends_with(dot))
            folder.resize(folder.size() - dot.size());
    }
    std::replace(written.begin(), written.end(), kTheFile, folder.empty() ? kName : folder + L'\\' + kName);
    if (row.checks & OneFile) {
        EXPECT_TRUE(after.contains(written[0]) && after.contains(written[1])
                    && after.at(written[0]).index == after.at(written[1]).index)
            << "the names lead to different files";
    }
    std::map<std::wstring, Entry> wanted = before;
    for (const std::wstring &path : m_scene.removed)
        wanted.erase(path);
    for (const std::wstring &path : written) {
        ASSERT_TRUE(after.contains(path)) << utf8(path);
        Entry &entry = wanted.try_emplace(path, after.at(path)).first->second; // a new file as it came, but:
        EXPECT_TRUE(before.contains(path) || entry.attributes == 0) << utf8(path) << ": a new file is plain";
        entry.content = expected;
        if (entry.links == 1 && !(row.checks & InPlace))
            entry.index = after.at(path).index; // replacing gives it a new index
    }
    EXPECT_EQ(after.size(), wanted.size()) << "entries came or went";
    for (const auto &[path, entry] : wanted)
        EXPECT_TRUE(after.contains(path) && after.at(path) == entry)
            << utf8(path) << " is not as a plain write leaves it";
}

INSTANTIATE_TEST_SUITE_P(Folders, WindowsFileReplacementTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case> &row) { return std::string(row.param.name); });

// The file's content, read while holding the writers' lock, so never while a
// writer in place is halfway; nullopt when the lock or the file cannot be had.
std::optional<std::string> readUnderTheWritersLock(const std::wstring &path)
{
    const HANDLE file = ::CreateFileW(longPath(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    const auto lock = [&](bool take) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(kWindowsWriterLockOffset);
        at.OffsetHigh = static_cast<DWORD>(kWindowsWriterLockOffset >> 32);
        const auto low = static_cast<DWORD>(kWindowsWriterLockLength);
        const auto high = static_cast<DWORD>(kWindowsWriterLockLength >> 32);
        return take ? ::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, low, high, &at)
                    : ::UnlockFileEx(file, 0, low, high, &at);
    };
    const ULONGLONG deadline = ::GetTickCount64() + 30000;
    bool locked = false;
    while (!(locked = lock(true)) && ::GetLastError() == ERROR_LOCK_VIOLATION && ::GetTickCount64() < deadline)
        ::Sleep(1);
    std::optional<std::string> content;
    if (locked) {
        std::string buffer(1 << 16, '\0');
        DWORD got = 0;
        if (::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            buffer.resize(got);
            content = std::move(buffer);
        }
        lock(false);
    }
    ::CloseHandle(file);
    return content;
}

// Two writers at once, this test and windows_file_holder.exe, a second
// process, each writing the file many times, one a longer file than the
// other: a plain file, which is replaced, and a hard-linked one, written in
// place. Every write succeeds; whenever the file is read under the writers'
// lock it holds one of the two whole, never a mix or a longer file's length
// padded with zeros; a third program that looks for the name meanwhile
// always finds it; and nothing is left behind.
class TwoWriters : public testing::TestWithParam<bool> {
protected:
    void SetUp() override { createRoot(scene, std::filesystem::temp_directory_path().native()); }
    void TearDown() override { removeRoot(scene); }

    Scene scene;
};

TEST_P(TwoWriters, NeverFailNorMixNorLoseTheName)
{
    const bool hardLinked = GetParam();
    scene.file(kName, "old");
    if (hardLinked)
        scene.hardLink(kName, L"second name");
    ConfigSnapshot longer = ConfigSnapshot::initial(); // as windows_file_holder writes it
    longer.flags.fill(true);
    longer.messages[9] = std::u16string(3000, u'w');
    const std::string shorterFile = FormatConfigFile(ConfigSnapshot::initial());
    const std::string longerFile = FormatConfigFile(longer);

    std::atomic<int> missing = 0;
    std::jthread looker([&](const std::stop_token &stop) {
        const std::wstring file = longPath(scene.path(kName));
        while (!stop.stop_requested())
            missing += ::GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES ? 1 : 0;
    });
    constexpr int kWrites = 100;
    Holder other;
    ASSERT_EQ(other.start(scene.path(kName), L"-", L"write " + std::to_wstring(kWrites)), "");
    int failed = 0;
    int mixed = 0;
    std::string firstFailure;
    for (int i = 0; i < kWrites; ++i) {
        try {
            WriteConfigFile(ConfigSnapshot::initial(), scene.root);
        } catch (const ConfigWriteError &error) {
            if (failed++ == 0)
                firstFailure = "press " + std::to_string(i) + ": " + error.what();
        }
        const std::optional<std::string> content = readUnderTheWritersLock(scene.path(kName));
        if (!content || (*content != shorterFile && *content != longerFile))
            ++mixed;
    }
    EXPECT_EQ(other.awaitEnd(), 0U) << "the other writer failed or did not end";
    looker.request_stop();
    looker.join();
    EXPECT_EQ(failed, 0) << firstFailure;
    EXPECT_EQ(mixed, 0) << "reads found neither file whole";
    EXPECT_EQ(missing, 0) << "the name was missing";
    const std::string last = entryOf(scene.path(kName)).content;
    EXPECT_TRUE(last == shorterFile || last == longerFile) << "the writers left neither file whole";
    EXPECT_EQ(entryOf(scene.path(kName)).links, hardLinked ? 2U : 1U);
    EXPECT_EQ(listTree(scene.root).size(), hardLinked ? 2U : 1U) << "something was left behind";
}

INSTANTIATE_TEST_SUITE_P(Files, TwoWriters, testing::Bool(), [](const testing::TestParamInfo<bool> &file) {
    return file.param ? "HardLinkedInPlace" : "PlainReplaced";
});

// The program's folder, found by a copy of this test run from a folder with
// a name beyond ASCII, while its working directory is another folder.
// (Windows starts no program from a path past 260 characters, so the longer
// names that ProgramFolder() also takes cannot be tried this way.)
TEST(ProgramFolder, IsTheRunningProgramsFolderNotTheWorkingDirectory)
{
    if (const wchar_t *expected = ::_wgetenv(L"ORNIVEX_EXPECTED_FOLDER")) { // the copy
        EXPECT_EQ(ProgramFolder().native(), expected);
        return;
    }
    Scene scene;
    scene.root = std::filesystem::temp_directory_path().native() + L"ornivex-program-"
        + std::to_wstring(::GetCurrentProcessId());
    scene.folder(L"");
    scene.folder(L"Server \u041f\u0430\u043f\u043a\u0430 \U0001F3AE");
    const std::wstring folder = scene.path(L"Server \u041f\u0430\u043f\u043a\u0430 \U0001F3AE");
    const std::wstring copy = folder + L"\\tests.exe";
    ASSERT_TRUE(::CopyFileW((ProgramFolder() / L"file_replacement_windows_tests.exe").c_str(), copy.c_str(), TRUE))
        << ::GetLastError();
    ::SetEnvironmentVariableW(L"ORNIVEX_EXPECTED_FOLDER", folder.c_str());
    std::wstring command = L"tests.exe --gtest_filter=ProgramFolder.*";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(::CreateProcessW(copy.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, scene.root.c_str(),
                                 &startup, &process))
        << ::GetLastError();
    ::SetEnvironmentVariableW(L"ORNIVEX_EXPECTED_FOLDER", nullptr);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 1;
    ::GetExitCodeProcess(process.hProcess, &status);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    EXPECT_EQ(status, 0U) << "the copy found another folder";
    ::DeleteFileW(copy.c_str());
    ::RemoveDirectoryW(folder.c_str());
    ::RemoveDirectoryW(scene.root.c_str());
}

} // namespace
