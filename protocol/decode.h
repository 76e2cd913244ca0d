// Filing replies into the tables, and acknowledging ended transactions.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "protocol/exchange.h"

namespace zarvo {

// Files the reply in state.RxBuf by its type letter; other letters change nothing.
void DecodeReply(ExchangeState& state);

// Answers an ended transaction with "L" and its number; raises ESerialIO on failure.
void AckTransaction(ExchangeState& state);

// A decimal reply field, converted the same on every machine: blanks around it,
// an optional sign, "." or "," as the separator, an optional exponent.
// Raises zarvo::Exception quoting the field when it is no number.
double ReplyFieldValue(std::span<const std::uint8_t> field);

}  // namespace zarvo
