// The transmit-order section of a format: puts the new label data together
// from the fields, the additional strings, the length and the data.
#pragma once

#include <array>
#include <string_view>

#include "scriptgen/config_table.h"
#include "scriptgen/script_writer.h"

namespace zov::filters {

// Names by transmit code; code 0 is an empty slot and never written.
inline constexpr std::array<std::string_view, 11> kTransmitItemNames{
    "NoField", "F1str",  "F2str",           "F3str",     "F4str",    "F5str",
    "AF1str",  "AF2str", "IntToStr(TxLen)", "OUT1.Data", "origData",
};
inline constexpr unsigned char kTransmitLengthCode = 8;

void emitTransmitOrder(const ConfigTable& config, ScriptWriter& writer, char formatDigit);

}  // namespace zov::filters
