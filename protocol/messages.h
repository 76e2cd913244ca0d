// Messages of the link layer, code page 1251.
#pragma once

#include "codepage/cp1251.h"

namespace zarvo::messages {

inline constexpr auto kAckFailed = cp1251("Ошибка при подтверждении конца транзакции");

}  // namespace zarvo::messages
