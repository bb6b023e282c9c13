// Writes the benchmark inputs into a directory:
//   mixed.txt      at least the given number of megabytes of parameter lines,
//                  script lines, comments and long lines, mixed;
//   all-items.txt  one parameter line for each of the 173 items, none at its
//                  default, ended by the end-of-transmission character.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "scriptgen/config_items.h"

namespace {

using namespace zov::filters;

// A value of the item's width that differs from its default and keeps every
// section of the script busy.
std::string busyValue(const ConfigItemDefinition& item) {
    const std::size_t digits = item.defaultValue.size();
    switch (item.kind) {
        case ItemKind::Enumeration: {
            const std::string_view id = item.configID.view();
            if (id[2] >= '1' && id[2] <= '5' && id[3] == 'C') return id[2] == '5' ? "04" : "03";
            return item.defaultValue == "01" ? "02" : "01";
        }
        case ItemKind::Range:
            return std::string(digits - 2, '0') + "03";
        case ItemKind::HexString: {
            std::string value;
            for (std::size_t at = 0; at < digits; at += 2) value += at % 4 == 0 ? "41" : "5C";
            return value;
        }
        case ItemKind::EnumerationList:
            return "0108060102090A070305";
    }
    return std::string(item.defaultValue);
}

void writeAllItems(const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    for (const ConfigItemDefinition& item : kConfigItemTable) {
        out << "$C" << item.configID.view() << busyValue(item) << "\r\n";
    }
    out << '\x04';
}

void writeMixed(const std::string& path, std::size_t megabytes) {
    std::ofstream out(path, std::ios::binary);
    std::mt19937 generator(2026);
    const std::size_t target = megabytes * 1024 * 1024;
    std::string chunk;
    std::size_t written = 0;
    while (written < target) {
        chunk.clear();
        for (int line = 0; line < 4096; ++line) {
            const unsigned pick = generator() % 16;
            const ConfigItemDefinition& item = kConfigItemTable[generator() % kConfigItemCount];
            if (pick < 7) {
                chunk += "$C";
                chunk += item.configID.view();
                chunk += busyValue(item);
                chunk += "\n";
            } else if (pick < 13) {
                chunk += "\t\tF2str = Mid(OUT1.Data, Fstart, (StrLen(OUT1.Data) - Fstart) + 1)\n";
            } else if (pick < 14) {
                chunk += "# Advanced Formatting Parameters $C in the middle\r\n\r\n";
            } else if (pick < 15) {
                chunk += "C$C" + std::string(generator() % 200, 'x') + "\n";
            } else {
                chunk += "$C" + std::string(1200, 'y') + "\n";
            }
        }
        out << chunk;
        written += chunk.size();
    }
    out << '\x04' << '\n';
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s DIRECTORY MEGABYTES\n", argv[0]);
        return 2;
    }
    const std::string directory = argv[1];
    writeAllItems(directory + "/all-items.txt");
    writeMixed(directory + "/mixed.txt", std::strtoul(argv[2], nullptr, 10));
    return 0;
}
