#include "workflows/PortCheck.h"

#include "pad/SerialPort.h"

namespace korvane {

bool checkAndOpenPort(SerialPort& port, int portNumber, int baudRate, std::string& errorText) {
    if (portNumber < 1 || portNumber > 255) {
        errorText = kPortOutOfRangeMessage;
        return false;
    }
    if (!port.open(portNumber, baudRate, 'N', '8', '1', true)) {
        errorText = kPortAccessFailedMessage;
        return false;
    }
    return true;
}

bool reopenLoadPort(SerialPort& port, int portNumber, std::string& errorText) {
    port.close();
    return checkAndOpenPort(port, portNumber, kPadBaudRate, errorText);
}

}  // namespace korvane
