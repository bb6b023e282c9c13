#include "scriptgen/config_table.h"

#include <algorithm>

#include "scriptgen/hex_values.h"

namespace zov::filters {

ConfigTable::ConfigTable() {
    for (std::size_t position = 0; position < kConfigItemCount; ++position) {
        ConfigItem& item = items_[position];
        item.definition = &kConfigItemTable[position];
        std::copy(item.definition->defaultValue.begin(), item.definition->defaultValue.end(),
                  item.currentValue.begin());
    }
    convertValues();
}

namespace {

// The first item with the id, compared whole and case-sensitively.
template <typename Items>
auto* findItem(Items& items, std::string_view configID) {
    const auto found = std::find_if(items.begin(), items.end(), [configID](const ConfigItem& item) {
        return item.definition->configID.view() == configID;
    });
    return found == items.end() ? nullptr : &*found;
}

}  // namespace

const ConfigItem* ConfigTable::find(std::string_view configID) const {
    return findItem(items_, configID);
}

void ConfigTable::storeParameterLine(std::string_view text, OutputSink& out) {
    if (text.size() < kConfigIDLength) {
        out.write("\nError: Not enough characters for ConfigID\n");
        return;
    }
    ConfigItem* item = findItem(items_, text.substr(0, kConfigIDLength));
    if (item == nullptr) {
        out.write("\nError: No ConfigID match for following line: ");
        out.write(text);
        out.write("\n");
        return;
    }
    const std::size_t valueLength = 2 * static_cast<std::size_t>(item->definition->byteCount);
    if (text.size() < kConfigIDLength + valueLength) {
        out.write("\nError: Not enough value data in following line: ");
        out.write(text);
        out.write("\n");
        return;
    }
    // Characters beyond the value are ignored; the value is not checked for
    // hexadecimal digits.
    const std::string_view value = text.substr(kConfigIDLength, valueLength);
    std::copy(value.begin(), value.end(), item->currentValue.begin());
}

void ConfigTable::convertValues() {
    for (ConfigItem& item : items_) {
        const std::string_view value = item.valueText();
        switch (item.definition->kind) {
            case ItemKind::Enumeration:
            case ItemKind::Range:
                item.currentInt = static_cast<std::int32_t>(parseHex(value));
                break;
            case ItemKind::HexString:
                item.currentQVEstrLength = hexToQuotedLiteral(value, item.currentQVEstr);
                break;
            case ItemKind::EnumerationList:
                for (std::size_t element = 0; 2 * element < value.size(); ++element) {
                    item.currentQVEstr[element] =
                        static_cast<char>(parseHex(value.substr(2 * element, 2)));
                }
                item.currentQVEstrLength = value.size() / 2;
                break;
        }
    }
}

std::int32_t ConfigTable::getConfigCurInt(std::string_view configID) const {
    const ConfigItem* item = find(configID);
    if (item == nullptr) {
        throw ConfigLookupError("\nCan't find config ID in getConfigCurInt. config ID: " +
                                std::string(configID));
    }
    return item->currentInt;
}

std::string_view ConfigTable::getConfigCurQVEstr(std::string_view configID) const {
    const ConfigItem* item = find(configID);
    if (item == nullptr) {
        throw ConfigLookupError("\nCan't find config ID in getConfigCurQVEstr. config ID: " +
                                std::string(configID));
    }
    return {item->currentQVEstr.data(), item->currentQVEstrLength};
}

}  // namespace zov::filters
