#include "framework/error_log.h"

namespace framework {
namespace {

constexpr SIZE_T kEntrySize = 48;      // the packet without strings
constexpr SIZE_T kEntryWithText = 50;  // plus two bytes per character of text
constexpr USHORT kStringOffset = 44;   // the text follows the (empty) dump data

static_assert(sizeof(IO_ERROR_LOG_PACKET) == kEntrySize);

}  // namespace

void WriteErrorLog(PDEVICE_OBJECT deviceObject, NTSTATUS errorCode, const WCHAR* text) {
    const SIZE_T characters = text == nullptr ? 0 : wcslen(text);
    const SIZE_T size = text == nullptr ? kEntrySize : kEntryWithText + 2 * characters;
    if (size > ERROR_LOG_MAXIMUM_SIZE) return;
    auto* entry = static_cast<PIO_ERROR_LOG_PACKET>(
        IoAllocateErrorLogEntry(deviceObject, static_cast<UCHAR>(size)));
    if (entry == nullptr) return;
    RtlZeroMemory(entry, kEntrySize);
    entry->ErrorCode = errorCode;
    if (text != nullptr) {
        entry->NumberOfStrings = 1;
        entry->StringOffset = static_cast<USHORT>(kStringOffset + entry->DumpDataSize);
        RtlCopyMemory(reinterpret_cast<PUCHAR>(entry) + entry->StringOffset, text,
                      (characters + 1) * sizeof(WCHAR));
    }
    IoWriteErrorLogEntry(entry);
}

}  // namespace framework
