#include "file_replacement.h"

#include "unicode_text.h"
#include "windows_error.h"
#include "windows_writer_lock.h"

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>

namespace ornivex {
namespace {

class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle)
        : m_handle(handle)
    {
    }
    UniqueHandle(UniqueHandle &&other) noexcept
        : m_handle(std::exchange(other.m_handle, INVALID_HANDLE_VALUE))
    {
    }
    UniqueHandle &operator=(UniqueHandle &&other) noexcept
    {
        std::swap(m_handle, other.m_handle);
        return *this;
    }
    UniqueHandle(const UniqueHandle &) = delete;
    UniqueHandle &operator=(const UniqueHandle &) = delete;
    ~UniqueHandle() { close(); }

    HANDLE get() const { return m_handle; }
    explicit operator bool() const { return m_handle != INVALID_HANDLE_VALUE; }
    // Closing keeps the thread's last error: a handle replaced or dropped
    // between a failed call and its report must not change what is reported.
    void close()
    {
        if (m_handle != INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            ::CloseHandle(std::exchange(m_handle, INVALID_HANDLE_VALUE));
            ::SetLastError(error);
        }
    }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

UniqueHandle openFile(const std::wstring &path, DWORD access, DWORD share, DWORD disposition, DWORD flags)
{
    return UniqueHandle(::CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr));
}

// What the writer needs to know of a file that stands at the name.
struct Existing {
    DWORD attributes;
    DWORD links;
    LARGE_INTEGER created;
};

// Where the name leads, and what stands there now.
struct Target {
    std::wstring folder; // with the \\?\ prefix, so that no length limit applies
    std::wstring path;
    std::u16string shownPath; // as Windows shows it, for the report
    std::size_t size = 0;     // of the new content, for the report
    std::optional<Existing> existing;
    bool isLink = false; // a reparse point that leads to no path, written through
    // The earlier file opened for writing and for deletion with every kind
    // of sharing: what replacing it needs is known to be there.
    bool writableAndRemovable = false;
    // The earlier file's owner and access list where a new file can carry
    // the rest of what it is (its attributes, one name, no further streams);
    // empty otherwise.
    std::string security;
};

// --- Reports -----------------------------------------------------------------

// "<name>, the user this program runs as".
std::u16string thisUser()
{
    std::wstring name(257, L'\0'); // UNLEN + 1
    auto size = static_cast<DWORD>(name.size());
    if (!::GetUserNameW(name.data(), &size) || size <= 1)
        return u"the user this program runs as";
    name.resize(size - 1);
    return pathForDisplay(name) + u", the user this program runs as";
}

std::u16string shownName(const Target &target)
{
    return pathForDisplay(target.path.substr(target.path.find_last_of(L'\\') + 1));
}

// What the operator can do, by cause; where the cause is the same as on
// POSIX, in the same words.
std::u16string readOnlyAdvice()
{
    return u"The file is read-only. Right-click it in File Explorer, choose Properties and clear its Read-only "
           u"attribute.";
}

std::u16string fileDeniesAdvice()
{
    return u"The file's permissions do not let " + thisUser()
        + u", change it. Give that user the Write permission on the file (Properties, Security tab), or start this "
          u"program as a user who has it.";
}

std::u16string folderDeniesAdvice(const Target &target)
{
    return u"The folder " + pathForDisplay(target.folder) + u" does not let " + thisUser()
        + u", create files in it. Give that user the permission to create files there (the folder's Properties, "
          u"Security tab), or install the program into a folder that user may write to.";
}

// How long a writer in place waits for another one to finish: ample for a
// press, and short enough that the window, which cannot repaint meanwhile,
// is soon back.
constexpr int kPatienceSeconds = 5;

std::u16string lockedAdvice(const Target &target)
{
    return u"Another program held " + shownName(target) + u" locked for more than "
        + fromAscii(std::to_string(kPatienceSeconds))
        + u" seconds: another copy of this program writing it, or a program that locked it and stopped. Close that "
          u"program.";
}

std::u16string folderInTheWayAdvice(const Target &target)
{
    return u"A folder named " + shownName(target) + u" stands where the file belongs. Move or rename that folder.";
}

std::u16string replacedMeanwhileAdvice(const Target &target)
{
    return shownName(target) + u" was replaced by another program while this one was writing it.";
}

std::u16string changedEachRoundAdvice(const Target &target)
{
    return shownName(target)
        + u" was changed by another program each time this one was about to write it, so nothing was written: "
          u"another copy of this program writing it, or a program that replaces it again and again. Close that "
          u"program, or press again.";
}

// The advice for an error of the system, from where it came: the file itself
// or the folder that is to hold it.
enum class Place { File, Folder };

std::u16string adviceFor(DWORD error, const Target &target, Place place)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
        return place == Place::File ? fileDeniesAdvice() : folderDeniesAdvice(target);
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return u"Another program has the file open and does not let others change it: an editor, or the game "
               u"server itself. Close the file in that program, or the program.";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return u"The disk that holds " + pathForDisplay(target.folder) + u" is full; the file needs "
            + fromAscii(std::to_string((target.size + 1023) / 1024)) + u" KB. Free some space on it.";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_NOT_READY: {
        // A file gone from a folder that is there was taken by another program.
        const DWORD folder = target.folder.empty() ? INVALID_FILE_ATTRIBUTES
                                                   : ::GetFileAttributesW(target.folder.c_str());
        if (folder != INVALID_FILE_ATTRIBUTES && (folder & FILE_ATTRIBUTE_DIRECTORY))
            return replacedMeanwhileAdvice(target);
        // The program's folder is the one it was started from: renamed or
        // moved since, it is found again only by a new start.
        return u"The folder does not exist (any more): it may have been renamed, moved or deleted, or its drive or "
               u"network share is gone. Close this program and start it again from the folder it is in now.";
    }
    case ERROR_WRITE_PROTECT:
        return u"The disk that holds " + pathForDisplay(target.folder)
            + u" is write-protected. Remove the protection, or install the program on a disk that can be written.";
    default:
        return {};
    }
}

[[noreturn]] void fail(DWORD error, const Target &target, std::u16string advice, bool fileChanged = false)
{
    throw ConfigWriteError(static_cast<int>(error), target.shownPath, WindowsErrorText(error), std::move(advice),
                           fileChanged);
}

[[noreturn]] void fail(DWORD error, const Target &target, Place place)
{
    fail(error, target, adviceFor(error, target, place));
}

// --- Finding the file --------------------------------------------------------

// Asked with GetFileInformationByHandleEx, not GetFileInformationByHandle:
// the latter also fetches the volume's serial number, which the writer does
// not need and which costs more than the whole rest of a press under Wine.
std::optional<Existing> existingOf(HANDLE file)
{
    FILE_BASIC_INFO basic = {};
    FILE_STANDARD_INFO standard = {};
    if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)
        || !::GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard))
        return std::nullopt;
    return Existing{basic.FileAttributes, standard.NumberOfLinks, basic.CreationTime};
}

// The system's answer of a length, asked again with a buffer of that length
// until the whole answer fits; empty when it fails.
template <typename Ask>
std::wstring askForPath(Ask ask)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ask(path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        const bool fits = length < path.size();
        path.resize(length);
        if (fits)
            return path;
    }
}

// Appends the names of `relative` to `root`, a backslash before each. "."
// and ".." are resolved by their text, since the \\?\ form would take them
// literally; every other name stays exactly as it is.
std::wstring appendNames(std::wstring root, std::wstring_view relative)
{
    const std::size_t rootLength = root.size();
    while (!relative.empty()) {
        const std::size_t end = std::min(relative.find(L'\\'), relative.size());
        const std::wstring_view name = relative.substr(0, end);
        relative.remove_prefix(std::min(end + 1, relative.size()));
        if (name == L"..") {
            if (root.size() > rootLength)
                root.resize(root.find_last_of(L'\\'));
        } else if (!name.empty() && name != L".") {
            root += L'\\';
            root += name;
        }
    }
    return root;
}

// The folder in the \\?\ form, which every call takes as it is: past 260
// characters, and without the rewriting of Win32 paths, which drops
// trailing spaces and dots and turns names such as "aux" or "com1.d" into
// devices, so that the file would land in another folder or in none. The
// program's folder is a full path already and only gains the prefix; a
// path relative to the working directory or to a drive is joined to it
// first. A folder given in the \\?\ form stays as it is.
std::wstring longFolderPath(const std::filesystem::path &directory)
{
    std::wstring path = directory.native();
    if (path.starts_with(LR"(\\?\)") || path.starts_with(LR"(\\.\)")) {
        while (path.size() > 4 && path.back() == L'\\')
            path.pop_back();
        return path;
    }
    std::replace(path.begin(), path.end(), L'/', L'\\');
    const auto isFull = [](const std::wstring &full) {
        return full.starts_with(LR"(\\)") || (full.size() > 2 && full[1] == L':' && full[2] == L'\\');
    };
    if (!isFull(path)) {
        // Only the start is asked of the system: "." for the working
        // directory, "\" for its drive's root, "D:" for that drive's own.
        const std::size_t start = path.starts_with(L'\\') ? 1 : path.size() > 1 && path[1] == L':' ? 2 : 0;
        const std::wstring base = path.substr(0, start).empty() ? L"." : path.substr(0, start);
        path = askForPath(
                   [&](wchar_t *buffer, DWORD size) { return ::GetFullPathNameW(base.c_str(), size, buffer, nullptr); })
            + L'\\' + path.substr(start);
        if (!isFull(path))
            return path; // left to the system's own error for the path
    }
    if (path.starts_with(LR"(\\)")) { // \\server\share\...
        const std::size_t server = path.find(L'\\', 2);
        const std::size_t share = std::min(server == std::wstring::npos ? server : path.find(L'\\', server + 1),
                                           path.size());
        return appendNames(LR"(\\?\UNC\)" + path.substr(2, share - 2), std::wstring_view(path).substr(share));
    }
    return appendNames(LR"(\\?\)" + path.substr(0, 2), std::wstring_view(path).substr(2));
}

// Where an open file really is, every link on the way followed, in the
// \\?\ form; empty when the system cannot tell (a volume without a drive
// letter, say).
std::wstring finalPathOf(HANDLE file)
{
    return askForPath([&](wchar_t *buffer, DWORD size) {
        return ::GetFinalPathNameByHandleW(file, buffer, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    });
}

// The attributes a new file can be given.
constexpr DWORD kCarriedAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE
    | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_NORMAL;

// True when the file holds no data stream but its unnamed one. A file
// system without further streams may not answer the question (FAT; Wine,
// which has no streams, answers ERROR_INVALID_FUNCTION), which says the
// same.
bool onlyTheDataStream(HANDLE file)
{
    std::vector<std::uint64_t> buffer(64); // FILE_STREAM_INFO is 8-byte aligned
    const auto size = static_cast<DWORD>(buffer.size() * sizeof buffer[0]);
    if (!::GetFileInformationByHandleEx(file, FileStreamInfo, buffer.data(), size)) {
        const DWORD error = ::GetLastError();
        return error == ERROR_INVALID_FUNCTION || error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED
            || error == ERROR_HANDLE_EOF;
    }
    const auto *stream = reinterpret_cast<const FILE_STREAM_INFO *>(buffer.data());
    const std::wstring_view name(stream->StreamName, stream->StreamNameLength / sizeof(wchar_t));
    return stream->NextEntryOffset == 0 && name == L"::$DATA";
}

// The file's owner and access list as one self-relative security
// descriptor; empty when they cannot be read. Two files with equal
// descriptors have the same owner and the same access list, inherited or
// not (under Wine: the same owner and Unix mode).
std::string securityOf(HANDLE file)
{
    constexpr SECURITY_INFORMATION kWhat = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    std::string descriptor(512, '\0');
    DWORD needed = 0;
    while (!::GetKernelObjectSecurity(file, kWhat, descriptor.data(), static_cast<DWORD>(descriptor.size()), &needed)) {
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= descriptor.size())
            return {};
        descriptor.resize(needed);
    }
    descriptor.resize(::GetSecurityDescriptorLength(descriptor.data()));
    return descriptor;
}

Target findTarget(const std::wstring &folder, const std::wstring &name, std::size_t size, bool followLinks = true)
{
    Target target;
    target.folder = folder;
    target.path = folder + L'\\' + name;
    target.shownPath = pathForDisplay(target.path);
    target.size = size;

    // A link at the name or on the way to it leads elsewhere: the file it
    // reaches is written, by the same rules, and the link stays as it is.
    // Wine shows a Unix link as a plain file, so the path the open file
    // really has tells, not its attributes. Where the system cannot tell
    // that path, the name is looked at step by step, and a link found there
    // is written through in place.
    bool located = !followLinks;
    const auto reached = [&](HANDLE file) -> std::optional<Target> {
        const std::wstring path = located ? std::wstring() : finalPathOf(file);
        const std::size_t slash = path.find_last_of(L'\\');
        if (path.empty() || slash == std::wstring::npos)
            return std::nullopt;
        located = true;
        if (::CompareStringOrdinal(path.c_str(), static_cast<int>(path.size()), target.path.c_str(),
                                   static_cast<int>(target.path.size()), TRUE)
            == CSTR_EQUAL)
            return std::nullopt;
        return findTarget(path.substr(0, slash), path.substr(slash + 1), size, false);
    };

    // The common case in one open, since every open costs a round trip to
    // the file system (under Wine to its server): a plain file with one name
    // that this user may write and remove and that no program holds without
    // sharing both. Anything else, and every refusal, is looked at step by
    // step below, so that each is reported or routed as it would be alone.
    if (UniqueHandle file = openFile(target.path, FILE_READ_ATTRIBUTES | FILE_WRITE_DATA | DELETE | READ_CONTROL,
                                     kShareAll, OPEN_EXISTING, 0)) {
        if (std::optional<Target> elsewhere = reached(file.get()))
            return std::move(*elsewhere);
        const std::optional<Existing> existing = existingOf(file.get());
        constexpr DWORD kNotPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY;
        if (located && existing && existing->links == 1 && (existing->attributes & kNotPlain) == 0) {
            target.existing = existing;
            target.writableAndRemovable = true;
            if ((existing->attributes & ~kCarriedAttributes) == 0 && onlyTheDataStream(file.get()))
                target.security = securityOf(file.get());
            return target;
        }
    } else if (::GetLastError() == ERROR_FILE_NOT_FOUND) {
        return target;
    }

    // The name itself, not where a link leads.
    UniqueHandle file = openFile(target.path, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    if (!file) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND)
            return target;
        fail(error, target, Place::Folder);
    }
    target.existing = existingOf(file.get());
    if (!target.existing)
        fail(::GetLastError(), target, Place::File);
    target.isLink = (target.existing->attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (target.isLink) {
        // Judged by what it leads to, as a plain write would.
        file = openFile(target.path, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
        if (!file || !(target.existing = existingOf(file.get())))
            fail(::GetLastError(), target, Place::File);
        if (std::optional<Target> elsewhere = reached(file.get()))
            return std::move(*elsewhere);
    }
    return target;
}

// --- Writing -----------------------------------------------------------------

// Writes all of `bytes` at `offset`; 0 or the error. WriteFile may write less
// than asked without an error (Wine does so on a full disk); the rest is
// written by the next call, and a call that writes nothing counts as a full
// disk.
DWORD writeAll(HANDLE file, std::string_view bytes, std::uint64_t offset)
{
    constexpr std::size_t kChunk = 1 << 24;
    while (!bytes.empty()) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD written = 0;
        const auto size = static_cast<DWORD>(std::min(bytes.size(), kChunk));
        if (!::WriteFile(file, bytes.data(), size, &written, &at))
            return ::GetLastError();
        if (written == 0)
            return ERROR_DISK_FULL;
        bytes.remove_prefix(written);
        offset += written;
    }
    return 0;
}

// Sets the end of the file; 0 or the error.
DWORD setSize(HANDLE file, std::uint64_t size)
{
    FILE_END_OF_FILE_INFO end = {};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end) ? 0 : ::GetLastError();
}

// The lock writers in place hold while they write (see
// windows_writer_lock.h), released when it goes.
class WriterLock {
public:
    WriterLock() = default;
    WriterLock(const WriterLock &) = delete;
    WriterLock &operator=(const WriterLock &) = delete;
    ~WriterLock()
    {
        // Closing the handle would release it too, but Windows does so only
        // when it gets round to it; the next writer should not wait for that.
        if (m_file != nullptr) {
            OVERLAPPED at = lockRange();
            ::UnlockFileEx(m_file, 0, lowPart(kWindowsWriterLockLength), highPart(kWindowsWriterLockLength), &at);
        }
    }

    // Takes the lock through `file`, open for reading or writing, asking
    // without blocking and again every few milliseconds, for at most
    // kPatienceSeconds. 0, or the error: ERROR_LOCK_VIOLATION when another
    // writer held it all that time. A file system without byte-range locks
    // answers with another error; the caller writes without the lock then,
    // as a plain write would.
    DWORD take(HANDLE file)
    {
        const ULONGLONG deadline = ::GetTickCount64() + kPatienceSeconds * 1000ULL;
        for (;;) {
            OVERLAPPED at = lockRange();
            if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                             lowPart(kWindowsWriterLockLength), highPart(kWindowsWriterLockLength), &at)) {
                m_file = file;
                return 0;
            }
            const DWORD error = ::GetLastError();
            if (error != ERROR_LOCK_VIOLATION || ::GetTickCount64() >= deadline)
                return error;
            ::Sleep(10);
        }
    }

private:
    static DWORD lowPart(std::uint64_t value) { return static_cast<DWORD>(value); }
    static DWORD highPart(std::uint64_t value) { return static_cast<DWORD>(value >> 32); }
    static OVERLAPPED lockRange()
    {
        OVERLAPPED at = {};
        at.Offset = lowPart(kWindowsWriterLockOffset);
        at.OffsetHigh = highPart(kWindowsWriterLockOffset);
        return at;
    }

    HANDLE m_file = nullptr;
};

enum class Outcome { Done, WriteInPlace, StartAgain };

// Writes over the file where it is, for a file the new one cannot stand in
// for. Writers in place take turns: each holds the writers' lock from before
// it looks at the file's size until its data is flushed, since one writer's
// cut to length could otherwise fall between another's writes and leave the
// file longer than what was written, padded with zeros. The lock is taken
// through a handle open only for reading where the file allows, so that a
// writer waiting for it does not keep others (the server) from opening the
// file for reading alone.
//
// Space is reserved first; where the file system cannot reserve (Wine does
// not implement FileAllocationInfo), the part beyond the earlier end is
// written first, so that a full disk fails while the earlier bytes are still
// all there, and the file is cut back to its earlier size. A file gone
// before a byte changed starts the press again.
Outcome writeInPlace(const Target &target, std::string_view content)
{
    const UniqueHandle reader = openFile(target.path, FILE_READ_DATA | SYNCHRONIZE, kShareAll, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL);
    UniqueHandle file;
    WriterLock lock; // released before either handle closes
    // True when held, false on a file system without byte-range locks.
    const auto lockThrough = [&](HANDLE handle) {
        const DWORD error = lock.take(handle);
        if (error == ERROR_LOCK_VIOLATION)
            fail(error, target, lockedAdvice(target));
        return error == 0;
    };
    const bool locked = reader && lockThrough(reader.get());
    file = openFile(target.path, FILE_WRITE_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, kShareAll, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL);
    if (!file && ::GetLastError() == ERROR_FILE_NOT_FOUND)
        return Outcome::StartAgain;
    if (!file)
        fail(::GetLastError(), target, Place::File);
    if (!locked)
        lockThrough(file.get());
    LARGE_INTEGER earlierSize = {};
    if (!::GetFileSizeEx(file.get(), &earlierSize))
        fail(::GetLastError(), target, Place::File);
    const auto oldSize = static_cast<std::uint64_t>(earlierSize.QuadPart);
    const std::uint64_t newSize = content.size();

    // Never below the current end: a smaller allocation would cut the file.
    FILE_ALLOCATION_INFO reserve = {};
    reserve.AllocationSize.QuadPart = static_cast<LONGLONG>(std::max(oldSize, newSize));
    if (!::SetFileInformationByHandle(file.get(), FileAllocationInfo, &reserve, sizeof reserve)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL)
            fail(error, target, Place::File);
    }
    if (newSize > oldSize) {
        if (const DWORD error = writeAll(file.get(), content.substr(oldSize), oldSize)) {
            const bool restored = setSize(file.get(), oldSize) == 0;
            fail(error, target, adviceFor(error, target, Place::File), !restored);
        }
    }
    const auto changedAdvice = [&](DWORD error) {
        std::u16string advice = adviceFor(error, target, Place::File);
        return (advice.empty() ? advice : advice + u"\n\n")
            + u"The file was being written over where it is and may now hold the new settings at its start and "
              u"earlier bytes after them; the server should not read it until this program has written it whole.";
    };
    if (const DWORD error = writeAll(file.get(), content.substr(0, std::min(oldSize, newSize)), 0))
        fail(error, target, changedAdvice(error), true);
    if (const DWORD error = setSize(file.get(), newSize))
        fail(error, target, changedAdvice(error), true);
    if (!::FlushFileBuffers(file.get())) {
        const DWORD error = ::GetLastError();
        fail(error, target, changedAdvice(error), true);
    }
    return Outcome::Done;
}

// Errors after which writing in place may still succeed: the folder refuses
// a new file or the rename, a program holds the file without letting it be
// replaced, or the copy needs space that the earlier file already holds.
bool inPlaceMayDoBetter(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_UNABLE_TO_REMOVE_REPLACED:
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SAME_DEVICE:
        return true;
    default:
        return false;
    }
}

// A copy of the new file gets a hidden name beside the target while it is
// written. The name is fixed, ".<name>.new", so that a copy a crash left
// behind is found without listing the folder; should another writer hold
// that name right now, a random one is used instead.
std::wstring copyPath(const Target &target, int attempt)
{
    const std::size_t nameStart = target.path.find_last_of(L'\\') + 1;
    std::wstring copy = target.path.substr(0, nameStart) + L'.' + target.path.substr(nameStart);
    if (attempt == 0)
        return copy + L".new";
    static std::mt19937_64 random{std::random_device{}()};
    const std::string suffix = std::to_string(random());
    return copy + L'.' + std::wstring(suffix.begin(), suffix.end());
}

// A writer holds its copy open until the copy has the file's name, and the
// system closes it when the writer ends, crash or not. So a copy that opens
// without sharing, which any other open refuses, was abandoned and goes; one
// that another writer still holds stays. True when it went.
bool removeIfAbandoned(const std::wstring &copy)
{
    UniqueHandle file = openFile(copy, DELETE | FILE_READ_ATTRIBUTES, 0, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
    FILE_DISPOSITION_INFO remove = {TRUE};
    std::optional<Existing> held;
    return file && (held = existingOf(file.get()))
        && !(held->attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
        && ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &remove, sizeof remove);
}

bool nameIsTaken(DWORD error)
{
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS || error == ERROR_SHARING_VIOLATION;
}

// The new file under its hidden name, removed again unless it takes the
// target's name.
class NewFile {
public:
    explicit NewFile(const Target &target)
        : m_target(target)
    {
    }
    NewFile(const NewFile &) = delete;
    NewFile &operator=(const NewFile &) = delete;
    ~NewFile()
    {
        m_file.close();
        if (!m_path.empty())
            ::DeleteFileW(m_path.c_str());
    }

    // 0 or the error. The copy is shared with every kind of sharing: once
    // it has the file's name, other programs (another writer, the server)
    // must be able to open it while this writer still holds it. The fixed
    // name is tried first; only when it is taken is the copy there
    // looked at, which is rare, and removed if a crash left it, and then the
    // name tried once more. Should that fail too (Windows keeps a removed
    // file's name while another program, such as a virus scanner, still has
    // it open), the copy takes a random name.
    DWORD create()
    {
        constexpr int kAttempts = 100;
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            const std::wstring copy = copyPath(m_target, attempt);
            DWORD error = tryCreate(copy);
            if (attempt == 0 && nameIsTaken(error) && removeIfAbandoned(copy) && (error = tryCreate(copy)) != 0)
                continue;
            if (error == 0 || !nameIsTaken(error))
                return error;
        }
        return ERROR_FILE_EXISTS;
    }

    HANDLE handle() const { return m_file.get(); }

    // The copy's owner and access list, as given to it by the folder (or
    // the user's defaults), to be compared with the earlier file's.
    std::string security() const { return securityOf(m_file.get()); }

    // Gives the copy the attributes and the creation time it is to have:
    // none beyond Archive for a new file. 0 or the error.
    DWORD setBasics(DWORD attributes, LARGE_INTEGER created)
    {
        FILE_BASIC_INFO basic = {};
        basic.CreationTime = created; // 0 leaves it
        basic.FileAttributes = attributes | FILE_ATTRIBUTE_ARCHIVE;
        return ::SetFileInformationByHandle(m_file.get(), FileBasicInfo, &basic, sizeof basic) ? 0 : ::GetLastError();
    }

    // Gives the copy the target's name with one rename, replacing an earlier
    // file in the same step where `replace` says so: the name never goes
    // missing, and a crash leaves the earlier file or the new one. It goes
    // through the copy's own handle, so that only this very file can take
    // the name. 0 or the error.
    DWORD rename(bool replace)
    {
        // The name in the system's own form, for which \\?\ and \\.\ both stand: \??\.
        const std::wstring name = LR"(\??\)" + m_target.path.substr(4);
        std::vector<std::uint64_t> buffer((sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t)) / 8 + 1);
        auto *info = reinterpret_cast<FILE_RENAME_INFO *>(buffer.data());
        info->ReplaceIfExists = replace ? TRUE : FALSE;
        info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
        std::copy(name.begin(), name.end(), info->FileName);
        if (!::SetFileInformationByHandle(m_file.get(), FileRenameInfo, info,
                                          static_cast<DWORD>(buffer.size() * sizeof buffer[0])))
            return ::GetLastError();
        m_path.clear();
        return 0;
    }

    // Puts the copy in the place of an earlier file whose identity it cannot
    // carry with ReplaceFileW, which keeps the earlier file's security,
    // owner, attributes, creation time and streams on Windows (but, under
    // Wine, moves the earlier file away before the copy takes the name).
    // 0 or the error.
    DWORD replaceKeepingIdentity()
    {
        m_file.close(); // ReplaceFileW opens the copy itself
        if (::ReplaceFileW(m_target.path.c_str(), m_path.c_str(), nullptr, 0, nullptr, nullptr)) {
            m_path.clear();
            return 0;
        }
        const DWORD error = ::GetLastError();
        // The earlier file is gone and the copy kept its name: give it the
        // target's name after all, so that the new settings are not lost.
        if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT && ::MoveFileExW(m_path.c_str(), m_target.path.c_str(), 0)) {
            m_path.clear();
            return 0;
        }
        if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
            fail(error, m_target,
                 u"The earlier file was removed, but the new one could not take its name. It was kept as the "
                 u"hidden file \""
                     + pathForDisplay(std::exchange(m_path, {})) + u"\": rename it to the file's name.",
                 true);
        }
        return error;
    }

private:
    // 0 or the error.
    DWORD tryCreate(const std::wstring &copy)
    {
        m_file = openFile(copy, GENERIC_WRITE | DELETE, kShareAll, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN);
        if (!m_file)
            return ::GetLastError();
        m_path = copy;
        return 0;
    }

    const Target &m_target;
    UniqueHandle m_file;
    std::wstring m_path;
};

// Writes a new file and puts it in the target's place. Changes nothing when
// an earlier file is better written in place.
//
// The new file takes the earlier one's place by one rename where it can
// carry all that the earlier file is: its attributes and creation time are
// set on it, and the rest must need no carrying: one name, no further
// streams, and the owner and access list the new file got from its folder
// (compared as the system gives them, so an access list set on the file
// itself, or an owner other than this user, does not match). Anything else
// is replaced with ReplaceFileW, which keeps it on Windows.
Outcome replaceByRename(const Target &target, std::string_view content)
{
    const bool replacing = target.existing.has_value();
    if (replacing) {
        // The earlier file must be removable: a program that holds it open
        // without sharing deletion, or permissions that forbid it, leave
        // writing in place.
        if (!target.writableAndRemovable
            && !openFile(target.path, DELETE | FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, 0))
            return Outcome::WriteInPlace;
    }
    const auto giveUp = [&](DWORD error) {
        if (replacing && inPlaceMayDoBetter(error))
            return Outcome::WriteInPlace;
        fail(error, target, Place::Folder);
    };

    NewFile file(target);
    if (const DWORD error = file.create())
        return giveUp(error);
    if (const DWORD error = writeAll(file.handle(), content, 0))
        return giveUp(error);
    const bool carried = replacing && !target.security.empty() && file.security() == target.security;
    // Set for ReplaceFileW as well, which under Wine leaves the copy's own
    // attributes.
    const DWORD attributes = replacing ? target.existing->attributes
            & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)
                                       : 0;
    if (const DWORD error = file.setBasics(attributes, replacing ? target.existing->created : LARGE_INTEGER{}))
        return giveUp(error);
    // On disk before it takes the name, so that after a crash the name holds
    // the earlier file or the new one, complete.
    if (!::FlushFileBuffers(file.handle()))
        return giveUp(::GetLastError());
    if (const DWORD error = !replacing || carried ? file.rename(replacing) : file.replaceKeepingIdentity()) {
        // Another program created the file in the meantime.
        if (!replacing && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS))
            return Outcome::StartAgain;
        return giveUp(error);
    }
    return Outcome::Done;
}

} // namespace

void ReplaceFileContents(const std::filesystem::path &directory, std::string_view name, std::string_view content)
{
    const std::u16string wideName = fromUtf8(name);
    if (directory.empty()) { // never the working directory by default
        Target nowhere;
        nowhere.shownPath = wideName;
        fail(ERROR_PATH_NOT_FOUND, nowhere, Place::Folder);
    }
    const std::wstring folder = longFolderPath(directory);
    const std::wstring fileName(wideName.begin(), wideName.end());
    // A round lost to another program (the file created or removed
    // meanwhile) before a byte changed is tried again.
    constexpr int kRounds = 5;
    for (int round = 0; round < kRounds; ++round) {
        const Target target = findTarget(folder, fileName, content.size());
        Outcome outcome = Outcome::WriteInPlace;
        if (target.existing) {
            const DWORD attributes = target.existing->attributes;
            if (attributes & FILE_ATTRIBUTE_DIRECTORY)
                fail(ERROR_ACCESS_DENIED, target, folderInTheWayAdvice(target));
            // A read-only file is an error, as for a plain write, never
            // silently replaced; asked of the attribute, since Wine lets root
            // write such a file.
            if (attributes & FILE_ATTRIBUTE_READONLY)
                fail(ERROR_ACCESS_DENIED, target, readOnlyAdvice());
            // The file must let us write it, and no program may hold it
            // without sharing writing; asked without changing a byte.
            if (!target.writableAndRemovable && !openFile(target.path, FILE_WRITE_DATA, kShareAll, OPEN_EXISTING, 0)) {
                if (::GetLastError() == ERROR_FILE_NOT_FOUND)
                    continue;
                fail(::GetLastError(), target, Place::File);
            }
        }
        if (!target.existing || (!target.isLink && target.existing->links == 1))
            outcome = replaceByRename(target, content);
        if (outcome == Outcome::WriteInPlace)
            outcome = writeInPlace(target, content);
        if (outcome == Outcome::Done)
            return;
    }
    const Target target = findTarget(folder, fileName, content.size());
    fail(ERROR_ALREADY_EXISTS, target, changedEachRoundAdvice(target));
}

} // namespace ornivex
