// The driver's messages, code page 1251. The first group is the system's own
// texts, byte for byte; the second names arguments the driver refuses.
#pragma once

#include "codepage/cp1251.h"

namespace zarvo::messages {

inline constexpr auto kPriceFailed = cp1251("Ошибка задания цены");
inline constexpr auto kPresetVolumeFailed = cp1251("Ошибка задания отпуска по литрам");
inline constexpr auto kPresetAmountFailed = cp1251("Ошибка задания отпуска по сумме");
inline constexpr auto kStopFailed = cp1251("Can't STOP POMP");
inline constexpr auto kStopAllFailed = cp1251("Can't STOP All POMP");
inline constexpr auto kStatusFailed = cp1251("Can't GetSost");
inline constexpr auto kReadParamFailed = cp1251("Can't GetPar");
inline constexpr auto kWriteParamFailed = cp1251("Can't SetPar");
// ReadParam's reply did not carry the parameter asked: the system's own
// message is empty.
inline constexpr auto kParamNotInReply = cp1251("");
inline constexpr auto kPumpOutOfRange = cp1251("Номер колонки выходит за допустимый диапозон");
inline constexpr auto kAbstractCall = cp1251("Abstract Error");

inline constexpr auto kLineOutOfRange = cp1251("Номер линии выходит за допустимый диапазон 1..40");
inline constexpr auto kNozzleOutOfRange =
    cp1251("Номер пистолета выходит за допустимый диапазон 1..6");
inline constexpr auto kNozzleCountOutOfRange =
    cp1251("Количество пистолетов выходит за допустимый диапазон 0..6");
inline constexpr auto kPriceOutOfRange = cp1251("Цена не помещается в четыре цифры: ");
inline constexpr auto kVolumeOutOfRange = cp1251("Объём не помещается в поле команды: ");
inline constexpr auto kAmountOutOfRange = cp1251("Сумма не помещается в поле команды: ");
inline constexpr auto kParamNoOutOfRange =
    cp1251("Номер параметра выходит за допустимый диапазон 0..99: ");
inline constexpr auto kParamValueOutOfRange =
    cp1251("Значение параметра выходит за допустимый диапазон 0..255: ");

}  // namespace zarvo::messages
