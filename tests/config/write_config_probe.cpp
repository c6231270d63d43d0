// Writes the initial-state configuration file into the directory named by the
// first argument and prints "ok" or "<number>\t<description>".
#include "config_file_writer.h"

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    try {
        ornivex::WriteConfigFile(ornivex::ConfigSnapshot::initial(), QString::fromLocal8Bit(argv[1]));
        std::puts("ok");
    } catch (const ornivex::ConfigWriteError &error) {
        std::printf("%d\t%s\n", error.number(), error.what());
    }
    return 0;
}
