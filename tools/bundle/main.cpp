#include "tools/bundle/BundleCommands.h"

#include <iostream>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "Usage: korvane-bundle pack DIR -o FILE [--no-packing-list] [--no-check]\n"
    "       korvane-bundle list FILE\n"
    "       korvane-bundle unpack FILE DIR [--replace]\n"
    "The bundle format of the Equinox and Verifone packages: entries of an eight-digit length, a\n"
    "40-byte name and the data.\n"
    "  pack    the folder's regular files as entries, \"PACKINGLIST\" first, then by name. Without a\n"
    "          PACKINGLIST file in the folder one is made: the other names, one per LF-ended line, by\n"
    "          name with an empty file last (--no-packing-list: none, e.g. for a Verifone bundle). A\n"
    "          packing list that names a missing file, names one twice, leaves one out or puts an\n"
    "          empty file anywhere but last is refused (--no-check packs it even so).\n"
    "  list    one line per entry: name, tab, size in bytes\n"
    "  unpack  every entry as a file of DIR (made when missing); existing files are kept unless\n"
    "          --replace\n"
    "Exit status: 0 done, 1 failed, 2 usage error.\n";

int usage(const std::string& why) {
    std::cerr << "korvane-bundle: " << why << "\n" << kUsage;
    return 2;
}

}  // namespace

// korvane-bundle: packs, lists and unpacks bundles for a load server's package folder.
int main(int argc, char** argv) {
    using namespace korvane::bundletool;
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << kUsage;
        return 0;
    }
    if (args.empty()) return usage("a command is needed");
    const std::string& command = args[0];
    std::vector<std::string> operands;
    std::string output;
    PackOptions pack;
    bool replace = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (command == "pack" && (arg == "-o" || arg == "--output")) {
            if (i + 1 >= args.size()) return usage(arg + " needs a file");
            output = args[++i];
        } else if (command == "pack" && arg == "--no-packing-list") {
            pack.makePackingList = false;
        } else if (command == "pack" && arg == "--no-check") {
            pack.check = false;
        } else if (command == "unpack" && arg == "--replace") {
            replace = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage("unknown option \"" + arg + "\" for " + command);
        } else {
            operands.push_back(arg);
        }
    }
    if (command == "pack") {
        if (operands.size() != 1 || output.empty()) return usage("pack takes a folder and -o FILE");
        return packFolder(operands[0], output, pack, std::cout, std::cerr);
    }
    if (command == "list") {
        if (operands.size() != 1) return usage("list takes one bundle file");
        return listBundle(operands[0], std::cout, std::cerr);
    }
    if (command == "unpack") {
        if (operands.size() != 2) return usage("unpack takes a bundle file and a folder");
        return unpackBundle(operands[0], operands[1], replace, std::cout, std::cerr);
    }
    return usage("unknown command \"" + command + "\"");
}
