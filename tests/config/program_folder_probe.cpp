// Started by program_folder_test from a folder the test builds: says "ready",
// waits for a line, so that the test can rename or delete meanwhile, and then
// prints the file it would write, as the window's tooltip shows it, or the
// report of why it cannot tell (and exits with 1).

#include "config_file_writer.h"
#include "program_folder.h"
#include "unicode_text.h"

#include <iostream>
#include <string>

int main()
{
    std::cout << "ready" << std::endl;
    std::string line;
    std::getline(std::cin, line);
    try {
        std::cout << ornivex::toUtf8(ornivex::pathForDisplay(ornivex::ProgramFolder() / ornivex::kConfigFileName));
        return 0;
    } catch (const ornivex::ConfigWriteError &error) {
        std::cout << ornivex::toUtf8(error.report());
        return 1;
    }
}
