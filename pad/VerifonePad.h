#pragma once

#include "pad/Bundle.h"
#include "platform/ProcessRun.h"
#include "server/LoadServerClient.h"

#include <string>
#include <vector>

namespace korvane {

// A Verifone Vx805 or P400 pad, and at the same time the load server client
// of the load it belongs to. The loader only identifies these pads and puts
// them into download mode; the files go over with the pad vendor's download
// program "ddl.exe", which gets the bundle's files in the working directory
// and the COM port, which the loader has closed for it.
//
// The bundle's files are written for the run (mode 0600, each created anew)
// and removed after it on every path, also when writing one of them or
// starting the program failed: they are pad software and stay nowhere.
class VerifonePad : public LoadServerClient {
public:
    static constexpr const char* kProgramName = "ddl.exe";
    static constexpr const char* kAdkArchive = "1_VOS2_LOAD_SOLUTIONS_DL.TGZ";
    static constexpr const char* kXpiArchive = "2_DL.VOS2-ENGAGE-CXPI+CONFIG.TGZ";
    static constexpr int kDownloadModeBaud = 115200;

    explicit VerifonePad(const InstallationConfig& installation, LoadJob* job = nullptr,
                         SecurityInterface& security = SecurityInterface::processWide());
    ~VerifonePad() override;

    // These pads are not loaded by packing list: always 0. The workflows call
    // loadEvoload or loadAdkAndXpi.
    int loadPackingList() override;

    // The bundle the job's `configImage` points to, into the file map. False
    // with the reason as LastErrorText() when it is no whole bundle.
    bool unpackBundle();

    // The Vx805 step: the files, then one run of
    // "ddl.exe -pN -b115200 -k7 -fEvoloadSerial.dld" ("EvoloadUSB.dld" on a
    // USB connection) with the number of the job's port, for up to 15 minutes.
    // 2 when it ran at least 12 s and ended by itself; else 0. The job's
    // `resultText` says which.
    int loadEvoload();

    // One P400 archive: "ddl.exe -pN -b115200 -k7 -iARCHIVE" with the job's
    // `comPort`, for up to 40 minutes; true when it ran at least 50 s and
    // ended by itself, else false with the job's `resultText`.
    bool runDownloadTool(const std::string& archive);

    // The P400 step: the files, the ADK archive, the 20-minute install wait,
    // download mode again, the XPI archive and the 10-minute install wait.
    // 2, or 0 with "FAIL-LOAD ADK" or "FAIL-LOAD XPI" as the job's outcome
    // (none when the files could not be written) and the `resultText`.
    int loadAdkAndXpi();

    // Download mode between the P400's two archives: opens the job's COM port
    // at 115200 baud, sends "*01P2" "U" or "1", and closes the port again in
    // every case. False with the link result text, or "Failed on Com Port
    // Access.", in `message`.
    bool requestDownloadMode(std::string& message, bool usbConnection);

    const BundleEntries& files() const { return files_; }
    // The download program's last run, for diagnosis.
    const ProcessRun& lastRun() const { return lastRun_; }

    // The command lines, as the pad vendor's program reads them.
    static std::string evoloadCommandLine(int portNumber, bool usbConnection);
    static std::string archiveCommandLine(int portNumber, const std::string& archive);

private:
    class WrittenFiles;
    // Writes every file of the map; false with `resultText` set.
    bool writeFiles(WrittenFiles& written);
    ProcessRun runTool(const std::string& commandLine, uint32_t limitMs);
    int fail(const std::string& resultText);

    BundleEntries files_;
    ProcessRun lastRun_;
};

}  // namespace korvane
