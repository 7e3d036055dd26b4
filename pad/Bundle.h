#pragma once

#include "job/ByteArray.h"

#include <map>
#include <string>

namespace korvane {

struct LoadJob;

// The package format the load server delivers for the Equinox and Verifone
// pads: entries of an eight-digit decimal length L, a 40-byte name padded on
// the right, and L - 40 bytes of data; no header, no trailer. An entry with
// L of 40 or less has no data and its name is its first L bytes.
using BundleEntries = std::map<std::string, ByteArray>;

inline constexpr size_t kBundleLengthDigits = 8;
inline constexpr size_t kBundleNameBytes = 40;

// Fills `entries` (emptied first) from `bundle`. False for an empty bundle,
// one cut short inside an entry, or one without any entry. A later entry of
// the same name replaces the earlier one. Names lose trailing white space.
bool readBundle(const ByteArray& bundle, BundleEntries& entries);
// The same, with the reason for a refusal in `whyNot` (for the operator).
bool readBundle(const ByteArray& bundle, BundleEntries& entries, std::string& whyNot);

// The bundle a pad's load points `configImage` at, as the pads unpack it:
// false with the reason when there is none or it does not read.
bool readJobBundle(const LoadJob* job, BundleEntries& entries, std::string& whyNot);

// One entry in the format above. False when the name does not fit in 40
// bytes or the entry would not fit in eight digits.
bool appendBundleEntry(ByteArray& bundle, const std::string& name, const ByteArray& data);

}  // namespace korvane
