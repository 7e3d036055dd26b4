// What an open secure channel negotiated, for the technician's diagnosis.
#include "server/SecureChannel.h"

#include "server/FormatText.h"
#include "server/win32/CertificateCheck.h"
#include "server/win32/SecureChannelSession.h"

#include <schannel.h>

namespace korvane {

namespace {

bool connectionInfo(const SecurityCredential* credential, CtxtHandle& context, SecPkgContext_ConnectionInfo& info) {
    return credential != nullptr &&
           credential->functions->QueryContextAttributesA(&context, SECPKG_ATTR_CONNECTION_INFO, &info) == SEC_E_OK;
}

// An algorithm id by the name OpenSSL's cipher suite names use for it;
// unknown ids as their number.
std::string algorithmName(ALG_ID id) {
    switch (id) {
    case CALG_RSA_KEYX: return "RSA";
    case CALG_DH_EPHEM: return "DHE";
    case CALG_ECDH: return "ECDH";
    case CALG_ECDH_EPHEM: return "ECDHE";
    case CALG_AES_128: return "AES128";
    case CALG_AES_256: return "AES256";
    case CALG_3DES: return "DES-CBC3";
    case CALG_RC4: return "RC4";
    case CALG_MD5: return "MD5";
    case CALG_SHA1: return "SHA";
    case CALG_SHA_256: return "SHA256";
    case CALG_SHA_384: return "SHA384";
    default: return formatText("0x%04X", static_cast<unsigned>(id));
    }
}

}  // namespace

// The version as OpenSSL names it, so that both platforms report alike.
std::string SecureChannel::protocolVersion() const {
    SecPkgContext_ConnectionInfo info{};
    if (!connected_ || !session_->contextValid || !connectionInfo(session_->credential, session_->context, info))
        return {};
    if ((info.dwProtocol & SP_PROT_TLS1_2) != 0) return "TLSv1.2";
    if ((info.dwProtocol & SP_PROT_TLS1_1) != 0) return "TLSv1.1";
    if ((info.dwProtocol & SP_PROT_TLS1_0) != 0) return "TLSv1";
    if ((info.dwProtocol & SP_PROT_SSL3) != 0) return "SSLv3";
    return formatText("0x%X", static_cast<unsigned>(info.dwProtocol));
}

// Schannel reports the algorithms, not the suite's name: key exchange, bulk
// cipher and hash by their ids, written in OpenSSL's manner
// ("ECDHE-AES256-SHA384"), the cipher's strength in bits behind a slash.
std::string SecureChannel::cipherName() const {
    SecPkgContext_ConnectionInfo info{};
    if (!connected_ || !session_->contextValid || !connectionInfo(session_->credential, session_->context, info))
        return {};
    return algorithmName(info.aiExch) + "-" + algorithmName(info.aiCipher) + "-" + algorithmName(info.aiHash) + "/" +
           std::to_string(info.dwCipherStrength);
}

std::string SecureChannel::serverCertificateSha256() const {
    if (!connected_ || !session_->contextValid) return {};
    return leafCertificateSha256(*session_->credential, session_->context);
}

}  // namespace korvane
