#pragma once

#include "tools/payload-gen/Containers.h"

#include <string>

namespace korvane::payloadgen {

// The pad package of the custom prompts ("CUSTPROMPT.PGN"): a 224-byte
// fixed-width text header, then a tar with the one member "CUSTPROMPT.XML".
//
//   offset  width  field
//        0      8  format, "PGN 1.00"
//        8      8  header length, decimal, zero-filled: "00000224"
//       16     12  length of the tar that follows, decimal, zero-filled
//       28     64  package name, space-filled
//       92     64  SHA-256 of the tar, upper-case hexadecimal
//      156     16  package version, space-filled
//      172     50  spaces
//      222      2  CR LF
Bytes customPromptPackage(const Bytes& promptXml, uint32_t mtime);

// The signed form of the same prompts for the Lane, Move and Link pads: a tar
// of the signature file "8520590000_852059.d3s" and the signed package
// "8520590000_852059.P3P.pkg". The package is itself a tar of
//   files.tar   the files it installs: the custom prompt package as "CUSTPROMPT.PGN"
//   files.hash  "<SHA-256>  <name>" for each of them
//   info.tar    "package.info", the package's description
//   info.hash   the same list for the information tar
// Only the pad maker can sign, so the signature file is a placeholder that
// says so; a pad refuses the package until a real signature replaces it.
Bytes signedPromptArchive(const Bytes& promptPackage, const Bytes& packageInfo, uint32_t mtime);

inline constexpr std::size_t kSignatureFileSize = 3216;
inline constexpr std::size_t kSignedPackageSize = 40960;

}  // namespace korvane::payloadgen
