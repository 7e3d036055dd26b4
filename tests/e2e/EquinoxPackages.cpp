#include "tests/e2e/EquinoxPackages.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace korvane::test {
namespace {

std::string everyByteValue(size_t size, int seed) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 31 + static_cast<size_t>(seed)) & 0xFF);
    return data;
}

std::string entry(const std::string& name, const std::string& data) {
    char length[16];
    std::snprintf(length, sizeof length, "%08zu", data.size() + 40);
    return length + name + std::string(40 - name.size(), ' ') + data;
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace

std::string packingListOf(const EquinoxBundle& bundle) {
    std::string list;
    for (const auto& file : bundle.files) list += file.first + "\r\n";
    return list;
}

std::vector<std::string> writeEquinoxPackages(const std::string& packagesDir, const std::vector<EquinoxBundle>& bundles) {
    std::filesystem::create_directories(packagesDir + "/equinox");
    std::string index = "# Equinox packages of the end-to-end tests.\n";
    std::vector<std::string> written;
    for (const EquinoxBundle& bundle : bundles) {
        std::string bytes = entry("PACKINGLIST", packingListOf(bundle));
        for (const auto& [name, data] : bundle.files) bytes += entry(name, data);
        if (!bundle.cutShortBy.empty()) bytes.resize(bytes.size() - std::stoul(bundle.cutShortBy));
        const std::string relative = "equinox/" + bundle.package + ".bdl";
        writeFile(packagesDir + "/" + relative, bytes);
        index += "\n[model " + bundle.package + "]\nfile = " + relative + "\nversion = " + bundle.version + "\n";
        written.push_back(bytes);
    }
    writeFile(packagesDir + "/packages.ini", index);
    return written;
}

std::vector<EquinoxBundle> equinoxSampleBundles() {
    std::vector<EquinoxBundle> bundles;
    for (const char* pci : {"PCI2", "PCI3"}) {
        const int seed = pci[3] - '0';
        const std::string tag(pci);
        bundles.push_back({"EQ_L5XXX_FPE_" + tag,
                           "FPE" + tag + "-7",
                           {{"FPE_" + tag + ".BIN", everyByteValue(130001, seed)},
                            {"AGENT.CFG", "agent " + tag + "\n"},
                            {"L5300.SIG", everyByteValue(65000, seed + 1)},
                            {"EMPTY.DAT", ""}},
                           ""});
        bundles.push_back({"EQ_L5300_" + tag + "_SILVE2E",
                           "FORMS" + tag + "-3",
                           {{"FORMS.K3Z", everyByteValue(65001, seed + 2)},
                            {"PROMPTS.DAT", "prompts " + tag + "\n"},
                            {"BRAND.PNG", everyByteValue(2000, seed + 3)}},
                           ""});
    }
    return bundles;
}

const EquinoxBundle& bundleOf(const std::vector<EquinoxBundle>& bundles, const std::string& package) {
    for (const EquinoxBundle& bundle : bundles)
        if (bundle.package == package) return bundle;
    throw std::runtime_error("no bundle " + package);
}

}  // namespace korvane::test
