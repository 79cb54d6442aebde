#pragma once
// Reading numbers out of text, as network files and message payloads write them: the leading
// decimal number (optional sign, digits, optional fraction and exponent); text that does not
// begin with a number reads as 0. Independent of the host's locale.
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

double ReadNumber(std::string_view text);
// The leading number truncated toward zero; beyond the 64-bit range it saturates.
int64_t ReadInteger(std::string_view text);
// Whether the text begins with a number at all.
bool BeginsWithNumber(std::string_view text);
// A network file's flag: true exactly when the number equals 1.
bool ReadFileFlag(std::string_view text);
// A payload's Boolean: true when the number is greater than 0.
bool ReadPayloadFlag(std::string_view text);

}  // namespace velmora
