#pragma once

#include <string>
#include <vector>

namespace korvane {

// COM port numbers as the operator types them. Number N is the entry `comN`
// of the device folder (a symbolic link to the device, the way Wine's
// dosdevices folder does it); without that entry N is /dev/ttyS<N-1>.
// On Windows N is the system's own "\\.\COMN" and there is no folder: the
// mappings are the system's COM port names and the devices behind them.
inline constexpr int kFirstComPort = 1;
inline constexpr int kLastComPort = 255;

inline constexpr const char* kDeviceFolderEnv = "KORVANE_DEVICE_DIR";

// $KORVANE_DEVICE_DIR, else $XDG_CONFIG_HOME/korvane-field-loader/devices,
// else ~/.config/korvane-field-loader/devices. Empty values count as unset.
std::string comPortDeviceFolder();

// The path to open for `portNumber` (1 to 255): the folder's entry when there
// is one (even a link to nothing, so that opening it fails instead of
// silently falling back to another device), else the /dev/ttyS default.
// Empty for a number out of range.
std::string comPortDevicePath(int portNumber);

// One `comN` entry of the device folder.
struct ComPortMapping {
    int portNumber = 0;
    std::string entryPath;     // folder/comN
    std::string target;        // what the link says (the entry itself when it is no link)
    std::string resolvedPath;  // canonical path of the device; empty when the target is missing
};

// The folder's entries named exactly as comPortDevicePath() looks them up,
// in number order. Other names are not port numbers and are left out.
std::vector<ComPortMapping> mappedComPorts();

// Serial devices present on this machine (/dev/ttyS*, /dev/ttyUSB*,
// /dev/ttyACM*) in natural order. A ttyS node whose UART the kernel did not
// find is only a placeholder and is left out.
std::vector<std::string> presentSerialDevices();

}  // namespace korvane
