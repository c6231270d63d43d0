// Started by program_folder_test from a folder the test builds. Given
// "rename <from> <to>" or "delete <file>", does that to its own folder or
// file first, as happens when a program is moved or updated while it runs;
// then prints the file it would write, as the window's tooltip shows it, or
// the report of why it cannot tell (and exits with 1).

#include "config_file_writer.h"
#include "program_folder.h"
#include "unicode_text.h"

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    const std::vector<std::string> action(argv + 1, argv + argc);
    if (action.size() == 3 && action[0] == "rename")
        std::filesystem::rename(action[1], action[2]);
    if (action.size() == 2 && action[0] == "delete")
        std::filesystem::remove(action[1]);
    try {
        std::cout << ornivex::toUtf8(ornivex::pathForDisplay(ornivex::ProgramFolder() / ornivex::kConfigFileName));
        return 0;
    } catch (const ornivex::ConfigWriteError &error) {
        std::cout << ornivex::toUtf8(error.report());
        return 1;
    }
}
