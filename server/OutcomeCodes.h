#pragma once

namespace korvane {

// How a load ended, as reported to the load server in "PP_OUTCOME=". The
// server receives the text unchanged, suffixes included, and keeps it.
inline constexpr const char* kOutcomeLoaded = "LOADED";
inline constexpr const char* kOutcomeLoadNotRequired = "LOAD NOT REQUIRED";
inline constexpr const char* kOutcomeFail = "FAIL";
inline constexpr const char* kOutcomeFailAfterReboot = "FAIL-AFTER REBOOT";
inline constexpr const char* kOutcomeFailLoadRba = "FAIL-LOAD RBA";
inline constexpr const char* kOutcomeFailLoadConfig = "FAIL-LOAD CONFIG";
inline constexpr const char* kOutcomeFailLoadKeys = "FAIL-LOAD KEYS";
inline constexpr const char* kOutcomeFailNoSilvanePan = "FAIL-NO SILVANE PAN";
inline constexpr const char* kOutcomeFailNoSilvanePin = "FAIL-NO SILVANE PIN";
inline constexpr const char* kOutcomeFailLoadKorvaneInfo = "FAIL-LOAD KORVANE INFO";
inline constexpr const char* kOutcomeFailLoadFileCcod = "FAIL-LOAD FILE CCOD.K3Z";
inline constexpr const char* kOutcomeFailLoadFileOffline = "FAIL-LOAD FILE OFFLINE.K3Z";
inline constexpr const char* kOutcomeFailLoadSigData = "FAIL-LOAD SIG DATA";
inline constexpr const char* kOutcomeFailLoadVarOffline = "FAIL-LOAD VAR OFFLINE.K3Z";
inline constexpr const char* kOutcomeFailLoadVar728 = "FAIL-LOAD VAR 7 28";
inline constexpr const char* kOutcomeFailLoadFpe = "FAIL-LOAD FPE";
inline constexpr const char* kOutcomeFailLoadForms = "FAIL-LOAD FORMS";
inline constexpr const char* kOutcomeFailDownloadFiles = "FAIL-DOWNLOAD FILES";
inline constexpr const char* kOutcomeFailLoadCommServer = "FAIL-LOAD COMMSERVER";
inline constexpr const char* kOutcomeFailLoadAdk = "FAIL-LOAD ADK";
inline constexpr const char* kOutcomeFailLoadXpi = "FAIL-LOAD XPI";

// Appended by the Ingenico procedures to their failure codes.
inline constexpr const char* kOutcomeSuffixUsb = "-USB";
inline constexpr const char* kOutcomeSuffixSerial = "-SERIAL";
// Further detail of "FAIL-AFTER REBOOT".
inline constexpr const char* kOutcomeSuffixTimedOut = "-TIMEDOUT";
inline constexpr const char* kOutcomeSuffixPortNotOpen = "-PORTNOTOPEN";

}  // namespace korvane
