// The current values of the configuration items: stored from parameter
// lines, converted once, then read by the emitters through getConfigCurInt
// and getConfigCurQVEstr.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/output_sink.h"
#include "scriptgen/config_items.h"

namespace zov::filters {

struct ConfigItem {
    const ConfigItemDefinition* definition = nullptr;
    // 2 x byteCount characters and a NUL.
    std::array<char, 2 * kWidestByteCount + 1> currentValue{};
    std::int32_t currentInt = 0;
    // Hex String: a quoted literal; Enumeration List: one byte per element.
    std::array<char, 4 * kWidestByteCount + 4> currentQVEstr{};
    std::size_t currentQVEstrLength = 0;

    std::string_view valueText() const {
        return {currentValue.data(), 2 * static_cast<std::size_t>(definition->byteCount)};
    }
};

// A lookup for an id that no item has. The message is the text to write.
class ConfigLookupError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class ConfigTable {
  public:
    // Every item at its default value, converted.
    ConfigTable();

    // Stores one parameter text (a line without its "$C"); bad lines get a
    // message on out and leave the table as it was.
    void storeParameterLine(std::string_view text, OutputSink& out);
    void convertValues();

    // Throw ConfigLookupError for an unknown id.
    std::int32_t getConfigCurInt(std::string_view configID) const;
    std::string_view getConfigCurQVEstr(std::string_view configID) const;

    const std::array<ConfigItem, kConfigItemCount>& items() const { return items_; }

  private:
    const ConfigItem* find(std::string_view configID) const;

    std::array<ConfigItem, kConfigItemCount> items_{};
};

}  // namespace zov::filters
