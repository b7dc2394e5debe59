// Writes the compact vendor file the Windows zip carries, from the IEEE CSVs of this machine
// (ieee-data): make_vendor_file OUT [CSV_FOLDER]. Without a folder, the one the Linux program
// reads. Fails when no prefix was read, so that a build never ships an empty file.
#include <cstdio>
#include <fstream>
#include <string>

#include "Vendor.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: make_vendor_file OUT [CSV_FOLDER]\n");
        return 2;
    }
    const TVendorRegistry registry = argc == 3 ? ReadIeeeFolder(argv[2]) : LoadSystemVendors();
    if (registry.Empty()) {
        std::fprintf(stderr, "make_vendor_file: no IEEE registry in %s\n",
                     argc == 3 ? argv[2] : "/usr/share/ieee-data or /var/lib/ieee-data");
        return 1;
    }
    const std::string text = registry.Compact();
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "make_vendor_file: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
