#include "program_folder.h"

#include "config_file_writer.h"
#include "unicode_text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>

#include <sys/stat.h>
#include <unistd.h>

namespace ornivex {
namespace {

[[noreturn]] void folderUnknown(int error, std::u16string advice)
{
    throw ConfigWriteError(error, fromAscii(kConfigFileName), u"the folder that holds this program cannot be found",
                           std::move(advice));
}

} // namespace

// The kernel names the running program in /proc/self/exe. The name must
// still lead to the running file: a program file deleted or replaced since
// the start leaves a name that holds another file, or none.
std::filesystem::path ProgramFolder()
{
    std::array<char, PATH_MAX> buffer{};
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0 && errno == ENAMETOOLONG)
        folderUnknown(ENAMETOOLONG,
                      u"The path of the program's folder is longer than the system can name (PATH_MAX, "
                          + fromAscii(std::to_string(PATH_MAX))
                          + u" bytes). Move the program into a folder with a shorter path and start it from there.");
    if (length < 0 && ::access("/proc/self", F_OK) != 0) {
        const int error = errno;
        folderUnknown(error,
                      u"The system's /proc is not mounted, and only /proc tells which file this program was started "
                      u"from. Mount it (mount -t proc proc /proc), or start the program where /proc is available.");
    }
    struct stat running = {};
    struct stat named = {};
    const std::filesystem::path program(
        std::string(buffer.data(), static_cast<std::size_t>(std::max<ssize_t>(length, 0))));
    if (length < 0 || ::stat("/proc/self/exe", &running) != 0 || ::stat(program.c_str(), &named) != 0
        || running.st_dev != named.st_dev || running.st_ino != named.st_ino) {
        folderUnknown(ENOENT,
                      u"The program file was deleted or replaced after the program started (by an update or a new "
                      u"build, say), so the folder it was started from cannot be told for sure. Close the program "
                      u"and start it again.");
    }
    return program.parent_path();
}

} // namespace ornivex
