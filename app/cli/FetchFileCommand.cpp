#include "app/cli/FetchFileCommand.h"

#include "app/cli/ConsoleOperator.h"
#include "app/cli/ServerOnlyClient.h"
#include "platform/FileReplace.h"
#include "platform/InstallationConfig.h"
#include "server/ChallengeCipher.h"
#include "server/HexText.h"
#include "server/LoadServerClient.h"
#include "server/Md5.h"
#include "server/SecurityInterface.h"
#include "job/LoadJob.h"
#include "workflows/LoadWorker.h"

#include <cstdio>
#include <memory>
#include <string>

namespace korvane {
namespace {

constexpr const char* kUsage = "fetch-file NAME --output PATH";
constexpr const char* kSecurityFailedText =
    "Could Not Start SSPI \r\nEnsure that 128 bit encryption is installed.- FATAL Error!!";
constexpr const char* kCipherFailedText =
    "Could Not Initialize Crypto \r\nEnsure that 128 bit encryption is installed.- FATAL Error!!";
// A fetched file may be one of the pads' security files.
constexpr mode_t kOutputMode = 0600;

int usageError(const std::string& text) {
    std::fprintf(stderr, "korvane-load fetch-file: %s\nUsage: korvane-load %s\n", text.c_str(), kUsage);
    return kExitUsage;
}

int runFetchFile(const CommonOptions& common, const std::vector<std::string>& args) {
    std::string fileName, outputPath;
    bool haveName = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& argument = args[i];
        if (argument == "--output") {
            if (i + 1 >= args.size()) return usageError("--output needs a file name");
            outputPath = args[++i];
        } else if (argument.rfind("--output=", 0) == 0) {
            outputPath = argument.substr(9);
        } else if (!argument.empty() && argument[0] == '-') {
            return usageError("unknown option \"" + argument + "\"");
        } else if (haveName) {
            return usageError("unexpected argument \"" + argument + "\"");
        } else {
            fileName = argument;
            haveName = true;
        }
    }
    if (!haveName || fileName.empty()) return usageError("the name of the file to fetch is missing");
    if (outputPath.empty()) return usageError("--output PATH is missing");

    const InstallationConfigResult installation = loadInstallationConfig(locateInstallationConfig(common.configPath));
    for (const std::string& warning : installation.warnings) std::fprintf(stderr, "%s\n", warning.c_str());
    if (!installation.ok) {
        std::fprintf(stderr, "%s\n", installation.error.c_str());
        return kExitUsage;
    }

    ConsoleOperator console(ConsoleAnswers{});
    if (!SecurityInterface::processWide().Initialise()) {
        console.showMessage(kSecurityFailedText);
        return kExitFailure;
    }
    if (!ChallengeCipher::processWide().Initialise(installation.config.challengeSecret)) {
        console.showMessage(kCipherFailedText);
        return kExitFailure;
    }

    ByteArray file;
    LoadJob job;
    job.downloadTarget = &file;
    ServerOnlyClient client(installation.config, &job);
    bool fetched = false;
    {
        // On a worker, as in a load, so Ctrl+C reaches the download as a Cancel.
        const std::unique_ptr<ProgressView> progress = console.openProgressWindow();
        progress->show();
        job.progressWindow = progress->handle();
        const WorkerEntry fetch = [&](LoadJob&) {
            fetched = client.FetchFile(fileName);
            return fetched ? 0 : 1;
        };
        if (!runLoadWorker(console, job, fetch, LoadFamily::ingenico)) return kExitFailure;
        job.progressWindow = ProgressWindowHandle();
    }
    if (!fetched) {
        console.showMessage(client.LastErrorText());
        return kExitFailure;
    }

    if (!replaceFile(outputPath, std::string(file.begin(), file.end()), kOutputMode)) {
        std::fprintf(stderr, "korvane-load fetch-file: cannot write %s\n", outputPath.c_str());
        return kExitFailure;
    }
    const Md5::Digest digest = Md5::digest(file.data(), file.size());
    std::printf("Version: %s\nSize: %zu bytes\nMD5: %s\nWritten to %s\n", job.fetchedVersion.c_str(), file.size(),
                HexEncode(digest.data(), digest.size()).c_str(), outputPath.c_str());
    return kExitSuccess;
}

}  // namespace

Subcommand fetchFileSubcommand() {
    return {"fetch-file", kUsage, "one named file from the load server, with its version, size and MD5",
            &runFetchFile};
}

}  // namespace korvane
