#include "file_replacement.h"

#include "unicode_text.h"
#include "windows_error.h"
#include "windows_writer_lock.h"

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <utility>

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

// --- Reports -----------------------------------------------------------------

std::u16string userName()
{
    std::wstring name(257, L'\0'); // UNLEN + 1
    auto size = static_cast<DWORD>(name.size());
    if (!::GetUserNameW(name.data(), &size) || size == 0)
        return u"this user";
    name.resize(size - 1);
    return u'"' + std::u16string(name.begin(), name.end()) + u'"';
}

// What the operator can do, by cause.
const std::u16string kPressAgain = u" Then press Create Config File again.";

std::u16string readOnlyAdvice()
{
    return u"The file is read-only. Right-click it in File Explorer, choose Properties and clear its Read-only "
           u"attribute."
        + kPressAgain;
}

std::u16string fileDeniesAdvice()
{
    return u"The file's permissions do not let the user " + userName()
        + u" change it. Give this user the Write permission on the file (Properties, Security tab), or start this "
          u"tool as a user who has it."
        + kPressAgain;
}

std::u16string folderDeniesAdvice()
{
    return u"The folder's permissions do not let the user " + userName()
        + u" create files in it. Give this user the permission to create files in the folder (Properties, Security "
          u"tab), start this tool as a user who has it, or copy the tool into a folder where it may create files."
        + kPressAgain;
}

// How long a writer in place waits for another one to finish: ample for a
// press, and short enough that the window, which cannot repaint meanwhile,
// is soon back.
constexpr int kPatienceSeconds = 5;

std::u16string lockedAdvice()
{
    return u"Another program held the file locked for more than " + fromAscii(std::to_string(kPatienceSeconds))
        + u" seconds: another copy of this tool writing it, or a program that locked it and stopped. Close that "
          u"program."
        + kPressAgain;
}

std::u16string folderInTheWayAdvice()
{
    return u"A folder of the file's name stands where the file belongs. Rename or move that folder." + kPressAgain;
}

// The advice for an error of the system, from where it came: the file itself
// or the folder that is to hold it.
enum class Place { File, Folder };

std::u16string adviceFor(DWORD error, Place place)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
        return place == Place::File ? fileDeniesAdvice() : folderDeniesAdvice();
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return u"Another program has the file open and does not let others change it: an editor, or the game "
               u"server itself. Close the file in that program, or the program."
            + kPressAgain;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return u"The disk that holds the folder is full. Free some space on it." + kPressAgain;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_NOT_READY:
        return u"The folder does not exist (any more): it may have been renamed, moved or deleted, or its drive or "
               u"network share is gone. Close this tool and start it again from the folder it is in now.";
    case ERROR_WRITE_PROTECT:
        return u"The disk is write-protected. Remove the protection or copy the tool to another disk." + kPressAgain;
    default:
        return {};
    }
}

// What the writer needs to know of a file that stands at the name.
struct Existing {
    DWORD attributes;
    DWORD links;
};

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
    return Existing{basic.FileAttributes, standard.NumberOfLinks};
}

// Where the name leads, and what stands there now.
struct Target {
    std::wstring folder; // with the \\?\ prefix, so that no length limit applies
    std::wstring path;
    std::u16string shownPath; // as Windows shows it, for the report
    std::optional<Existing> existing;
    bool isLink = false; // a symbolic link or other reparse point, written through
    // The earlier file opened for writing and for deletion with every kind
    // of sharing: what replacing it needs is known to be there.
    bool writableAndRemovable = false;
};

[[noreturn]] void fail(DWORD error, const Target &target, std::u16string advice, bool fileChanged = false)
{
    throw ConfigWriteError(static_cast<int>(error), target.shownPath, WindowsErrorText(error), std::move(advice),
                           fileChanged);
}

[[noreturn]] void fail(DWORD error, const Target &target, Place place)
{
    fail(error, target, adviceFor(error, place));
}

// --- Finding the file --------------------------------------------------------

// The folder as a full path with the \\?\ prefix: every API call then takes
// it as it is, past 260 characters too. GetFullPathNameW first makes it
// absolute, turns slashes into backslashes and resolves "." and "..", which
// the prefix would take literally.
std::wstring longFolderPath(const std::filesystem::path &directory)
{
    std::wstring path = directory.native();
    if (!path.starts_with(LR"(\\?\)")) {
        std::wstring full(std::max<std::size_t>(path.size() + 1, MAX_PATH), L'\0');
        while (true) {
            const DWORD length = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(),
                                                    nullptr);
            if (length == 0)
                return path; // left to the system's own error for the path
            const bool fits = length < full.size();
            full.resize(length);
            if (fits)
                break;
        }
        if (full.starts_with(LR"(\\.\)"))
            path = full; // a device path takes no prefix
        else if (full.starts_with(LR"(\\)"))
            path = LR"(\\?\UNC\)" + full.substr(2);
        else
            path = LR"(\\?\)" + full;
    }
    // One separator between the folder and the name, even after a drive's root.
    while (path.size() > 1 && path.back() == L'\\')
        path.pop_back();
    return path;
}

Target findTarget(const std::filesystem::path &directory, std::string_view name)
{
    Target target;
    target.folder = longFolderPath(directory);
    const std::u16string wideName = fromUtf8(name);
    target.path = target.folder + L'\\' + std::wstring(wideName.begin(), wideName.end());
    target.shownPath = pathForDisplay(target.path);

    // The common case in one open, since every open costs a round trip to
    // the file system (under Wine to its server): a plain file with one name
    // that this user may write and remove and that no program holds without
    // sharing both. Anything else, and every refusal, is looked at step by
    // step below, so that each is reported or routed as it would be alone.
    if (UniqueHandle file = openFile(target.path, FILE_READ_ATTRIBUTES | FILE_WRITE_DATA | DELETE, kShareAll,
                                     OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT)) {
        const std::optional<Existing> existing = existingOf(file.get());
        constexpr DWORD kNotPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY;
        if (existing && existing->links == 1 && (existing->attributes & kNotPlain) == 0) {
            target.existing = existing;
            target.writableAndRemovable = true;
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
// all there, and the file is cut back to its earlier size.
void writeInPlace(const Target &target, std::string_view content)
{
    const UniqueHandle reader = openFile(target.path, FILE_READ_DATA | SYNCHRONIZE, kShareAll, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL);
    UniqueHandle file;
    WriterLock lock; // released before either handle closes
    // True when held, false on a file system without byte-range locks.
    const auto lockThrough = [&](HANDLE handle) {
        const DWORD error = lock.take(handle);
        if (error == ERROR_LOCK_VIOLATION)
            fail(error, target, lockedAdvice());
        return error == 0;
    };
    const bool locked = reader && lockThrough(reader.get());
    file = openFile(target.path, FILE_WRITE_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, kShareAll, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL);
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
            fail(error, target, adviceFor(error, Place::File), !restored);
        }
    }
    const auto changedAdvice = [&](DWORD error) {
        std::u16string advice = adviceFor(error, Place::File);
        return (advice.empty() ? advice : advice + u"\n\n")
            + u"The file was being written over where it is and may now hold the new settings at its start and "
              u"earlier bytes after them; the server should not read it until this tool has written it whole.";
    };
    if (const DWORD error = writeAll(file.get(), content.substr(0, std::min(oldSize, newSize)), 0))
        fail(error, target, changedAdvice(error), true);
    if (const DWORD error = setSize(file.get(), newSize))
        fail(error, target, changedAdvice(error), true);
    if (!::FlushFileBuffers(file.get())) {
        const DWORD error = ::GetLastError();
        fail(error, target, changedAdvice(error), true);
    }
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

// A writer holds its copy open without sharing for as long as it writes, and
// the system closes it when the writer ends, crash or not. So a copy that
// opens exclusively was abandoned and goes; one that another writer still
// holds stays. True when it went.
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

    // 0 or the error. No one else may open the copy while it is written.
    // The fixed name is tried first; only when it is taken is the copy there
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

    // Gives the copy its final attributes: those of the earlier file, or
    // none beyond Archive for a new one. 0 or the error.
    DWORD setAttributes(DWORD attributes)
    {
        FILE_BASIC_INFO basic = {};
        basic.FileAttributes = attributes | FILE_ATTRIBUTE_ARCHIVE;
        return ::SetFileInformationByHandle(m_file.get(), FileBasicInfo, &basic, sizeof basic) ? 0 : ::GetLastError();
    }

    // Puts the copy in the target's place: over an earlier file with
    // ReplaceFileW, which keeps the earlier file's security, owner,
    // attributes, creation time and streams, or with a write-through
    // MoveFileExW where there was none. 0 or the error.
    DWORD publish(bool replacing)
    {
        m_file.close(); // both calls open the copy themselves
        if (!replacing) {
            if (!::MoveFileExW(m_path.c_str(), m_target.path.c_str(), MOVEFILE_WRITE_THROUGH))
                return ::GetLastError();
            m_path.clear();
            return 0;
        }
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
                     + pathForDisplay(std::exchange(m_path, {}))
                     + u"\": rename it to the file's name, or fix the cause and press Create Config File again.",
                 true);
        }
        return error;
    }

private:
    // 0 or the error.
    DWORD tryCreate(const std::wstring &copy)
    {
        m_file = openFile(copy, GENERIC_WRITE | DELETE, 0, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN);
        if (!m_file)
            return ::GetLastError();
        m_path = copy;
        return 0;
    }

    const Target &m_target;
    UniqueHandle m_file;
    std::wstring m_path;
};

enum class Outcome { Done, WriteInPlace, StartAgain };

// Writes a new file and puts it in the target's place. Changes nothing when
// an earlier file is better written in place.
Outcome replaceByRename(const Target &target, std::string_view content)
{
    const bool replacing = target.existing.has_value();
    if (replacing) {
        // ReplaceFileW must be able to remove the earlier file: a program
        // that holds it open without sharing deletion, or permissions that
        // forbid it, leave writing in place.
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
    // Set here as well as kept by ReplaceFileW, which under Wine leaves the
    // copy's own attributes instead.
    const DWORD attributes = replacing ? target.existing->attributes
            & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)
                                       : 0;
    if (const DWORD error = file.setAttributes(attributes))
        return giveUp(error);
    // On disk before it takes the name, so that after a crash the name holds
    // the earlier file or the new one, complete.
    if (!::FlushFileBuffers(file.handle()))
        return giveUp(::GetLastError());
    if (const DWORD error = file.publish(replacing)) {
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
    if (directory.empty()) { // never the working directory by default
        const std::u16string shown = fromUtf8(name);
        throw ConfigWriteError(ERROR_PATH_NOT_FOUND, shown, WindowsErrorText(ERROR_PATH_NOT_FOUND),
                               adviceFor(ERROR_PATH_NOT_FOUND, Place::Folder));
    }
    constexpr int kRounds = 3;
    for (int round = 0; round < kRounds; ++round) {
        const Target target = findTarget(directory, name);
        if (target.existing) {
            const DWORD attributes = target.existing->attributes;
            if (attributes & FILE_ATTRIBUTE_DIRECTORY)
                fail(ERROR_ACCESS_DENIED, target, folderInTheWayAdvice());
            // A read-only file is an error, as for a plain write, never
            // silently replaced; asked of the attribute, since Wine lets root
            // write such a file.
            if (attributes & FILE_ATTRIBUTE_READONLY)
                fail(ERROR_ACCESS_DENIED, target, readOnlyAdvice());
            // The file must let us write it, and no program may hold it
            // without sharing writing; asked without changing a byte.
            if (!target.writableAndRemovable && !openFile(target.path, FILE_WRITE_DATA, kShareAll, OPEN_EXISTING, 0))
                fail(::GetLastError(), target, Place::File);
            if (target.isLink || target.existing->links != 1) {
                writeInPlace(target, content);
                return;
            }
        }
        switch (replaceByRename(target, content)) {
        case Outcome::Done:
            return;
        case Outcome::WriteInPlace:
            writeInPlace(target, content);
            return;
        case Outcome::StartAgain:
            break;
        }
    }
    const Target target = findTarget(directory, name);
    fail(ERROR_ALREADY_EXISTS, target, {});
}

} // namespace ornivex
