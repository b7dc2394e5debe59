// Stands in for "arp" and "netsh" when the generated scripts are run by the command interpreter
// in a test folder. Each call appends to calls.txt its name and arguments, one line; netsh
// without arguments appends what it reads (the command file), and netsh asked for a listing
// prints listing.txt.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    _setmode(_fileno(stdin), _O_BINARY);
    std::FILE* log = std::fopen("calls.txt", "ab");
    if (log == nullptr) return 2;
    std::string call = std::filesystem::path(argv[0]).stem().string();
    for (int i = 1; i < argc; ++i) call += std::string(" ") + argv[i];
    std::fprintf(log, "%s\r\n", call.c_str());
    if (argc == 1) {
        for (int c = std::getchar(); c != EOF; c = std::getchar()) std::fputc(c, log);
    } else if (std::string(argv[argc - 1]) == "reservedip") {
        if (std::FILE* listing = std::fopen("listing.txt", "rb")) {
            for (int c = std::fgetc(listing); c != EOF; c = std::fgetc(listing)) std::putchar(c);
            std::fclose(listing);
        }
    }
    return std::fclose(log) == 0 ? 0 : 2;
}
