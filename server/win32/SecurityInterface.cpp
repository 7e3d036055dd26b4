// The client credential on Windows: the security package interface (SSPI),
// loaded at run time, with the Schannel provider. Nothing links the package
// library; every call goes through its function table.
#include "server/SecurityInterface.h"

#include "server/win32/SecurityCredential.h"

#include <schannel.h>

namespace korvane {

namespace {

// SCHANNEL_CRED as the load server expects it: TLS 1.0 to 1.2 (client and
// server bits), SSL 2 and 3 off; manual validation and no default client
// certificate, so the package validates nothing and sends no certificate.
constexpr DWORD kEnabledProtocols = 0xFC0;
constexpr DWORD kCredentialFlags = 0x18;  // SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS

// NT 4 keeps the interface in Security.dll; later systems and Windows 9x in Secur32.dll.
const char* securityLibraryName() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(&version)) return nullptr;
#pragma GCC diagnostic pop
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) return version.dwMajorVersion == 4 ? "Security.dll" : "Secur32.dll";
    if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) return "Secur32.dll";
    return nullptr;
}

}  // namespace

SecurityInterface::SecurityInterface() : credential_(std::make_unique<SecurityCredential>()) {}

SecurityInterface::~SecurityInterface() { Release(); }

SecurityInterface& SecurityInterface::processWide() {
    static SecurityInterface instance;
    return instance;
}

bool SecurityInterface::isReady() const { return credential_->acquired; }

SecurityCredential* SecurityInterface::CredentialHandle() const {
    return isReady() ? credential_.get() : nullptr;
}

bool SecurityInterface::Initialise() {
    SecurityCredential& credential = *credential_;
    if (credential.acquired) return true;
    if (credential.library == nullptr) {
        const char* libraryName = securityLibraryName();
        if (libraryName == nullptr) return false;
        credential.library = LoadLibraryA(libraryName);
        if (credential.library == nullptr) return false;
        const auto initialise = reinterpret_cast<INIT_SECURITY_INTERFACE_A>(
            reinterpret_cast<void*>(GetProcAddress(credential.library, "InitSecurityInterfaceA")));
        if (initialise == nullptr) return false;
        credential.functions = initialise();
        if (credential.functions == nullptr) return false;
    }

    SCHANNEL_CRED settings{};
    settings.dwVersion = SCHANNEL_CRED_VERSION;
    settings.grbitEnabledProtocols = kEnabledProtocols;
    settings.dwFlags = kCredentialFlags;
    char packageName[] = "Microsoft Unified Security Protocol Provider";
    TimeStamp expiry{};
    const SECURITY_STATUS status = credential.functions->AcquireCredentialsHandleA(
        nullptr, packageName, SECPKG_CRED_OUTBOUND, nullptr, &settings, nullptr, nullptr, &credential.handle, &expiry);
    if (status != SEC_E_OK) {
        credential.acquired = false;
        credential.functions = nullptr;
        FreeLibrary(credential.library);
        credential.library = nullptr;
        return false;
    }
    credential.acquired = true;
    return true;
}

void SecurityInterface::Release() {
    SecurityCredential& credential = *credential_;
    if (credential.acquired) {
        credential.functions->FreeCredentialsHandle(&credential.handle);
        credential.acquired = false;
    }
    credential.functions = nullptr;
    if (credential.library != nullptr) {
        FreeLibrary(credential.library);
        credential.library = nullptr;
    }
}

}  // namespace korvane
