#include "program_folder.h"

#include "config_file_writer.h"
#include "unicode_text.h"

#include <cerrno>
#include <system_error>

#include <sys/stat.h>

namespace ornivex {

// The kernel names the running program in /proc/self/exe. The name must
// still lead to the running file: a program file deleted or replaced since
// the start leaves a name that holds another file, or none.
std::filesystem::path ProgramFolder()
{
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    struct stat running = {};
    struct stat named = {};
    if (error || ::stat("/proc/self/exe", &running) != 0 || ::stat(program.c_str(), &named) != 0
        || running.st_dev != named.st_dev || running.st_ino != named.st_ino) {
        throw ConfigWriteError(ENOENT, fromAscii(kConfigFileName),
                               u"the folder that holds this program cannot be found: the program file was deleted "
                               u"or replaced");
    }
    return program.parent_path();
}

} // namespace ornivex
