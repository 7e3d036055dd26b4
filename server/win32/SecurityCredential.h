#pragma once

#define SECURITY_WIN32
#include <winsock2.h>
#include <windows.h>
#include <security.h>
#include <sspi.h>

namespace korvane {

// On Windows the credential is the loaded security package: its library, the
// function table every SSPI call goes through, and the Schannel client credential.
struct SecurityCredential {
    HMODULE library = nullptr;
    PSecurityFunctionTableA functions = nullptr;
    CredHandle handle{};
    bool acquired = false;
};

}  // namespace korvane
