#include "tests/e2e/LoadRig.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace korvane::test {
namespace {

// Short enough that a whole load with its restart and reboot waits takes
// seconds; the pad's own install and restart times are matched to it.
constexpr char kWaitScale[] = "0.001";

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

std::string LoadRun::lastLine() const {
    std::string text = out;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    const auto newline = text.rfind('\n');
    return newline == std::string::npos ? text : text.substr(newline + 1);
}

LoadRig::LoadRig(const PadSetup& pad, const std::vector<std::string>& serverArgs) : server_(serverArgs) {
    // The server was started with the harness's own packages; the index is read
    // for every request, so the sample folder can take their place now.
    std::filesystem::remove_all(packagesDir());
    ChildProcess maker("/bin/sh", {KORVANE_SAMPLE_PACKAGES_SCRIPT, packagesDir()},
                       {.env = {{"KORVANE_BUNDLE", KORVANE_BUNDLE_PATH}}});
    if (maker.waitForExit(60000) != 0)
        throw std::runtime_error("make-sample-packages.sh failed: " + maker.standardError());

    folder_.write("loader.conf", "[load-server]\nprimary-host = 127.0.0.1\nsecondary-host = 127.0.0.1\nport = " +
                                     std::to_string(server_.port()) +
                                     "\ninstallation-serial = 0100-2200-33\nchallenge-secret = " + kSecret + "\n");

    std::vector<std::string> args = {"--model",        pad.model, "--app-version",     pad.appVersion,
                                     "--install-time", "200",     "--restart-time",    "100",
                                     "--reboot-time",  "100",     "--parameters-file", folder_.file("parameters.txt")};
    for (const std::string& param : pad.params) args.insert(args.end(), {"--param", param});
    rbaPad_ = pad.model.rfind("L5300", 0) != 0 && pad.model != "Vx805" && pad.model != "P400";
    for (const std::string& fault : pad.faults) {
        args.insert(args.end(), {"--fault", fault});
        if (fault.rfind("noise=", 0) == 0) noisyLine_ = true;
    }
    args.insert(args.end(), pad.extra.begin(), pad.extra.end());
    pad_ = std::make_unique<PadSimProcess>(args);
    if (!pad_->ready()) throw std::runtime_error("korvane-pad-sim did not start: " + pad_->output());
}

LoadRig::~LoadRig() {
    for (const ServedOperation& operation : operations())
        if (!operation.violations.empty())
            ADD_FAILURE() << "the load server saw violations in " << operation.request << " " << operation.subject
                          << ": " << operation.violations;
    if (padKilled_ || noisyLine_ || !rbaPad_) return;  // no summary from a killed simulator; noise makes its own deviations
    // The RBA pad's summary; the Equinox and Verifone tests judge their pads'
    // violations themselves, as some of them put the wrong pad on the line.
    const std::string log = padLog();
    if (log.find(", violations: ") != std::string::npos && log.find(", violations: 0\n") == std::string::npos)
        ADD_FAILURE() << "the RBA pad simulator saw violations:\n" << log;
}

LoadRun LoadRig::korvaneLoad(const std::vector<std::string>& args, int timeoutMs) {
    ChildProcess::Options options;
    options.env = {{"KORVANE_WAIT_SCALE", kWaitScale},
                   {"KORVANE_DEVICE_DIR", pad_->devices.path()},
                   {"KORVANE_LOADER_CONFIG", folder_.file("loader.conf")},
                   {"KORVANE_UNATTENDED", std::nullopt}};
    for (const auto& [name, value] : loadEnv) options.env[name] = value;
    options.workingDirectory = loadDirectory;
    ChildProcess run(KORVANE_LOAD_PATH, args, options);
    LoadRun result;
    result.status = run.waitForExit(timeoutMs);
    result.out = run.standardOutput();
    result.err = run.standardError();
    return result;
}

LoadRun LoadRig::load(const std::string& caption, const std::string& connection,
                      const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"load", "--model", caption, "--port", "1", "--connection", connection};
    args.insert(args.end(), extra.begin(), extra.end());
    return korvaneLoad(args);
}

void LoadRig::stopServer() {
    if (serverStopped_) return;
    serverStopped_ = true;
    const int status = server_.stop();
    if (status != 0) ADD_FAILURE() << "load server exit status " << status << "\n" << server_.process().standardError();
}

std::vector<ServedOperation> LoadRig::operations() {
    stopServer();
    const Table table = server_.show("--show-operations");
    std::vector<ServedOperation> served;
    for (std::size_t row = 0; row < table.rows.size(); ++row)
        served.push_back({table.at(row, "request"), table.at(row, "subject"), table.at(row, "response_status"),
                          table.at(row, "response_error"), table.at(row, "violations")});
    return served;
}

std::vector<std::string> LoadRig::requests() {
    std::vector<std::string> lines;
    for (const ServedOperation& operation : operations()) lines.push_back(operation.request + " " + operation.subject);
    return lines;
}

Table LoadRig::loads() {
    stopServer();
    return server_.show("--show-loads");
}

void LoadRig::stopPad() {
    if (padStopped_.exchange(true)) return;
    pad_->process->signal(SIGTERM);
    const int status = pad_->process->waitForExit(30000);
    if (status != 0)
        ADD_FAILURE() << "korvane-pad-sim exit status " << status << "\n" << pad_->process->standardError();
}

std::string LoadRig::padLog() {
    stopPad();
    return pad_->output();
}

std::vector<std::string> LoadRig::padMessages() {
    std::vector<std::string> numbers;
    std::istringstream in(padLog());
    for (std::string line; std::getline(in, line);)
        if (line.size() >= 4 && std::isdigit(static_cast<unsigned char>(line[0])) &&
            std::isdigit(static_cast<unsigned char>(line[1])) && line.compare(2, 2, ". ") == 0)
            numbers.push_back(line.substr(0, 2));
    return numbers;
}

std::vector<std::string> LoadRig::padFileNames() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(pad_->files.path()))
        if (entry.path().extension() != ".part") names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool LoadRig::padHas(const std::string& name) const { return pad_->files.exists(name); }

std::string LoadRig::padFile(const std::string& name) const { return readFile(pad_->files.file(name)); }

std::map<std::string, std::string> LoadRig::padParameters() const {
    std::map<std::string, std::string> parameters;
    std::istringstream in(folder_.exists("parameters.txt") ? folder_.read("parameters.txt") : std::string());
    for (std::string line; std::getline(in, line);) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) parameters[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return parameters;
}

std::string LoadRig::sample(const std::string& path) const { return readFile(packagesDir() + "/" + path); }

std::string LoadRig::packageItem(const std::string& model, const std::string& key) const {
    std::istringstream in(sample("packages.ini"));
    const std::string lead = key + " = ";
    bool inSection = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] == '[') inSection = line == "[model " + model + "]";
        else if (inSection && line.rfind(lead, 0) == 0) return line.substr(lead.size());
    }
    return {};
}

std::string LoadRig::infoFileName(const std::string& model) const { return packageItem(model, "info-file-name"); }

std::string LoadRig::sampleFile(const std::string& model) const { return packageItem(model, "file"); }

void LoadRig::killPad() {
    if (padStopped_.exchange(true)) return;
    padKilled_ = true;
    pad_->process->signal(SIGKILL);
}

}  // namespace korvane::test
