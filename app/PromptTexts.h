#pragma once

// The fixed texts of the operator's prompts, shared by the desktop's windows
// and the console's questions.
namespace korvane::prompt_texts {

inline constexpr const char* kComPortTitle = "Enter COM Port";
inline constexpr const char* kComPortText =
    "Can't communicate with device after restart. Please confirm the cable connection type. If the COM port "
    "changed as a result of the restart, please enter it below.";
inline constexpr const char* kComPortLabel = "New PC Comm Port:";

inline constexpr const char* kDownloadStepsTitle = "Steps to enter download mode";

inline constexpr const char* kPciVersionTitle = "PCI Version";
inline constexpr const char* kPciVersionQuestion =
    "Please select the PCI version of the device. This can be determined by checking the back of the device and "
    "confirming if the IC label ends in V4.";
inline constexpr const char* kPciVersionExample =
    "For example, an iPP350 V4 device will look like this IC: 2586D-IPP3V4";
inline constexpr const char* kPciVersionOtherwise = "If you do not see V4, please select V3.";

}  // namespace korvane::prompt_texts
