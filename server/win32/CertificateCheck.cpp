// The server certificate's fingerprint on Windows: the leaf from the security
// context, hashed with CryptoAPI's SHA-256.
#include "server/win32/CertificateCheck.h"

#include "server/CertificatePin.h"

#include <wincrypt.h>
#include <schannel.h>

namespace korvane {

std::string derSha256(const unsigned char* der, std::size_t length) {
    // SHA-256 needs the AES provider type; the base RSA providers lack it.
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return {};
    HCRYPTHASH hash = 0;
    unsigned char digest[32];
    DWORD digestLength = sizeof digest;
    const bool done = CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) &&
                      CryptHashData(hash, der, static_cast<DWORD>(length), 0) &&
                      CryptGetHashParam(hash, HP_HASHVAL, digest, &digestLength, 0) && digestLength == sizeof digest;
    if (hash != 0) CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
    return done ? fingerprintText(digest, digestLength) : std::string();
}

std::string leafCertificateSha256(const SecurityCredential& credential, CtxtHandle& context) {
    PCCERT_CONTEXT certificate = nullptr;
    if (credential.functions->QueryContextAttributesA(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) !=
            SEC_E_OK ||
        certificate == nullptr)
        return {};
    std::string fingerprint = derSha256(certificate->pbCertEncoded, certificate->cbCertEncoded);
    CertFreeCertificateContext(certificate);
    return fingerprint;
}

}  // namespace korvane
