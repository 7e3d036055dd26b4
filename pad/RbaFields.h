#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// A pad reply cut at every byte of `delimiters`. Pieces are numbered from 1;
// two adjacent delimiters give an empty piece that still takes its number,
// and the text after the last delimiter is a piece only when it is not empty.
std::vector<std::string> splitFields(std::string_view reply, std::string_view delimiters);

// Piece `number` (from 1), or an empty string when there is none.
std::string fieldAt(const std::vector<std::string>& fields, size_t number);

// A received frame without its check byte (STX text ETX). The check byte is
// no field: left on, it would become the last piece of a reply that carries
// fewer fields than asked for, and be taken for a value.
std::string_view withoutCheckByte(std::string_view reply);

}  // namespace korvane
