// NTSTATUS codes of the simulated platform, with their documented values.
// Severity is in the top two bits: 00 success, 01 informational, 10 warning,
// 11 error. NT_SUCCESS (types.h) accepts the first two.
#pragma once

#include "kernel/types.h"

namespace zov::kernel::detail {
constexpr NTSTATUS MakeStatus(ULONG value) {
    return static_cast<NTSTATUS>(value);
}
}  // namespace zov::kernel::detail

// Success
constexpr NTSTATUS STATUS_SUCCESS = zov::kernel::detail::MakeStatus(0x00000000);
constexpr NTSTATUS STATUS_WAIT_0 = zov::kernel::detail::MakeStatus(0x00000000);
constexpr NTSTATUS STATUS_WAIT_1 = zov::kernel::detail::MakeStatus(0x00000001);
constexpr NTSTATUS STATUS_WAIT_2 = zov::kernel::detail::MakeStatus(0x00000002);
constexpr NTSTATUS STATUS_WAIT_3 = zov::kernel::detail::MakeStatus(0x00000003);
constexpr NTSTATUS STATUS_WAIT_63 = zov::kernel::detail::MakeStatus(0x0000003F);
constexpr NTSTATUS STATUS_ABANDONED = zov::kernel::detail::MakeStatus(0x00000080);
constexpr NTSTATUS STATUS_ABANDONED_WAIT_0 = zov::kernel::detail::MakeStatus(0x00000080);
constexpr NTSTATUS STATUS_USER_APC = zov::kernel::detail::MakeStatus(0x000000C0);
constexpr NTSTATUS STATUS_KERNEL_APC = zov::kernel::detail::MakeStatus(0x00000100);
constexpr NTSTATUS STATUS_ALERTED = zov::kernel::detail::MakeStatus(0x00000101);
constexpr NTSTATUS STATUS_TIMEOUT = zov::kernel::detail::MakeStatus(0x00000102);
constexpr NTSTATUS STATUS_PENDING = zov::kernel::detail::MakeStatus(0x00000103);
constexpr NTSTATUS STATUS_REPARSE = zov::kernel::detail::MakeStatus(0x00000104);
constexpr NTSTATUS STATUS_MORE_ENTRIES = zov::kernel::detail::MakeStatus(0x00000105);
constexpr NTSTATUS STATUS_BUFFER_ALL_ZEROS = zov::kernel::detail::MakeStatus(0x00000117);

// Informational
constexpr NTSTATUS STATUS_OBJECT_NAME_EXISTS = zov::kernel::detail::MakeStatus(0x40000000);
constexpr NTSTATUS STATUS_SERIAL_MORE_WRITES = zov::kernel::detail::MakeStatus(0x40000008);
constexpr NTSTATUS STATUS_SERIAL_COUNTER_TIMEOUT = zov::kernel::detail::MakeStatus(0x4000000C);

// Warnings
constexpr NTSTATUS STATUS_GUARD_PAGE_VIOLATION = zov::kernel::detail::MakeStatus(0x80000001);
constexpr NTSTATUS STATUS_DATATYPE_MISALIGNMENT = zov::kernel::detail::MakeStatus(0x80000002);
constexpr NTSTATUS STATUS_BREAKPOINT = zov::kernel::detail::MakeStatus(0x80000003);
constexpr NTSTATUS STATUS_BUFFER_OVERFLOW = zov::kernel::detail::MakeStatus(0x80000005);
constexpr NTSTATUS STATUS_NO_MORE_FILES = zov::kernel::detail::MakeStatus(0x80000006);
constexpr NTSTATUS STATUS_DEVICE_PAPER_EMPTY = zov::kernel::detail::MakeStatus(0x8000000E);
constexpr NTSTATUS STATUS_DEVICE_POWERED_OFF = zov::kernel::detail::MakeStatus(0x8000000F);
constexpr NTSTATUS STATUS_DEVICE_OFF_LINE = zov::kernel::detail::MakeStatus(0x80000010);
constexpr NTSTATUS STATUS_DEVICE_BUSY = zov::kernel::detail::MakeStatus(0x80000011);
constexpr NTSTATUS STATUS_NO_MORE_EAS = zov::kernel::detail::MakeStatus(0x80000012);
constexpr NTSTATUS STATUS_NO_MORE_ENTRIES = zov::kernel::detail::MakeStatus(0x8000001A);

// Errors
constexpr NTSTATUS STATUS_UNSUCCESSFUL = zov::kernel::detail::MakeStatus(0xC0000001);
constexpr NTSTATUS STATUS_NOT_IMPLEMENTED = zov::kernel::detail::MakeStatus(0xC0000002);
constexpr NTSTATUS STATUS_INVALID_INFO_CLASS = zov::kernel::detail::MakeStatus(0xC0000003);
constexpr NTSTATUS STATUS_INFO_LENGTH_MISMATCH = zov::kernel::detail::MakeStatus(0xC0000004);
constexpr NTSTATUS STATUS_ACCESS_VIOLATION = zov::kernel::detail::MakeStatus(0xC0000005);
constexpr NTSTATUS STATUS_IN_PAGE_ERROR = zov::kernel::detail::MakeStatus(0xC0000006);
constexpr NTSTATUS STATUS_INVALID_HANDLE = zov::kernel::detail::MakeStatus(0xC0000008);
constexpr NTSTATUS STATUS_INVALID_PARAMETER = zov::kernel::detail::MakeStatus(0xC000000D);
constexpr NTSTATUS STATUS_NO_SUCH_DEVICE = zov::kernel::detail::MakeStatus(0xC000000E);
constexpr NTSTATUS STATUS_NO_SUCH_FILE = zov::kernel::detail::MakeStatus(0xC000000F);
constexpr NTSTATUS STATUS_INVALID_DEVICE_REQUEST = zov::kernel::detail::MakeStatus(0xC0000010);
constexpr NTSTATUS STATUS_END_OF_FILE = zov::kernel::detail::MakeStatus(0xC0000011);
constexpr NTSTATUS STATUS_MORE_PROCESSING_REQUIRED = zov::kernel::detail::MakeStatus(0xC0000016);
constexpr NTSTATUS STATUS_NO_MEMORY = zov::kernel::detail::MakeStatus(0xC0000017);
constexpr NTSTATUS STATUS_ILLEGAL_INSTRUCTION = zov::kernel::detail::MakeStatus(0xC000001D);
constexpr NTSTATUS STATUS_ACCESS_DENIED = zov::kernel::detail::MakeStatus(0xC0000022);
constexpr NTSTATUS STATUS_BUFFER_TOO_SMALL = zov::kernel::detail::MakeStatus(0xC0000023);
constexpr NTSTATUS STATUS_OBJECT_TYPE_MISMATCH = zov::kernel::detail::MakeStatus(0xC0000024);
constexpr NTSTATUS STATUS_INVALID_PARAMETER_MIX = zov::kernel::detail::MakeStatus(0xC0000030);
constexpr NTSTATUS STATUS_OBJECT_NAME_INVALID = zov::kernel::detail::MakeStatus(0xC0000033);
constexpr NTSTATUS STATUS_OBJECT_NAME_NOT_FOUND = zov::kernel::detail::MakeStatus(0xC0000034);
constexpr NTSTATUS STATUS_OBJECT_NAME_COLLISION = zov::kernel::detail::MakeStatus(0xC0000035);
constexpr NTSTATUS STATUS_DEVICE_ALREADY_ATTACHED = zov::kernel::detail::MakeStatus(0xC0000038);
constexpr NTSTATUS STATUS_OBJECT_PATH_INVALID = zov::kernel::detail::MakeStatus(0xC0000039);
constexpr NTSTATUS STATUS_OBJECT_PATH_NOT_FOUND = zov::kernel::detail::MakeStatus(0xC000003A);
constexpr NTSTATUS STATUS_OBJECT_PATH_SYNTAX_BAD = zov::kernel::detail::MakeStatus(0xC000003B);
constexpr NTSTATUS STATUS_DATA_OVERRUN = zov::kernel::detail::MakeStatus(0xC000003C);
constexpr NTSTATUS STATUS_DATA_LATE_ERROR = zov::kernel::detail::MakeStatus(0xC000003D);
constexpr NTSTATUS STATUS_DATA_ERROR = zov::kernel::detail::MakeStatus(0xC000003E);
constexpr NTSTATUS STATUS_CRC_ERROR = zov::kernel::detail::MakeStatus(0xC000003F);
constexpr NTSTATUS STATUS_SHARING_VIOLATION = zov::kernel::detail::MakeStatus(0xC0000043);
constexpr NTSTATUS STATUS_DELETE_PENDING = zov::kernel::detail::MakeStatus(0xC0000056);
constexpr NTSTATUS STATUS_PRIVILEGE_NOT_HELD = zov::kernel::detail::MakeStatus(0xC0000061);
constexpr NTSTATUS STATUS_ARRAY_BOUNDS_EXCEEDED = zov::kernel::detail::MakeStatus(0xC000008C);
constexpr NTSTATUS STATUS_INTEGER_DIVIDE_BY_ZERO = zov::kernel::detail::MakeStatus(0xC0000094);
constexpr NTSTATUS STATUS_INTEGER_OVERFLOW = zov::kernel::detail::MakeStatus(0xC0000095);
constexpr NTSTATUS STATUS_INSUFFICIENT_RESOURCES = zov::kernel::detail::MakeStatus(0xC000009A);
constexpr NTSTATUS STATUS_DEVICE_DATA_ERROR = zov::kernel::detail::MakeStatus(0xC000009C);
constexpr NTSTATUS STATUS_DEVICE_NOT_CONNECTED = zov::kernel::detail::MakeStatus(0xC000009D);
constexpr NTSTATUS STATUS_DEVICE_POWER_FAILURE = zov::kernel::detail::MakeStatus(0xC000009E);
constexpr NTSTATUS STATUS_DEVICE_NOT_READY = zov::kernel::detail::MakeStatus(0xC00000A3);
constexpr NTSTATUS STATUS_IO_TIMEOUT = zov::kernel::detail::MakeStatus(0xC00000B5);
constexpr NTSTATUS STATUS_FILE_IS_A_DIRECTORY = zov::kernel::detail::MakeStatus(0xC00000BA);
constexpr NTSTATUS STATUS_NOT_SUPPORTED = zov::kernel::detail::MakeStatus(0xC00000BB);
constexpr NTSTATUS STATUS_DEVICE_DOES_NOT_EXIST = zov::kernel::detail::MakeStatus(0xC00000C0);
constexpr NTSTATUS STATUS_INTERNAL_ERROR = zov::kernel::detail::MakeStatus(0xC00000E5);
constexpr NTSTATUS STATUS_INVALID_USER_BUFFER = zov::kernel::detail::MakeStatus(0xC00000E8);
constexpr NTSTATUS STATUS_UNEXPECTED_IO_ERROR = zov::kernel::detail::MakeStatus(0xC00000E9);
constexpr NTSTATUS STATUS_INVALID_PARAMETER_1 = zov::kernel::detail::MakeStatus(0xC00000EF);
constexpr NTSTATUS STATUS_INVALID_PARAMETER_2 = zov::kernel::detail::MakeStatus(0xC00000F0);
constexpr NTSTATUS STATUS_INVALID_PARAMETER_3 = zov::kernel::detail::MakeStatus(0xC00000F1);
constexpr NTSTATUS STATUS_STACK_OVERFLOW = zov::kernel::detail::MakeStatus(0xC00000FD);
constexpr NTSTATUS STATUS_NOT_A_DIRECTORY = zov::kernel::detail::MakeStatus(0xC0000103);
constexpr NTSTATUS STATUS_NAME_TOO_LONG = zov::kernel::detail::MakeStatus(0xC0000106);
constexpr NTSTATUS STATUS_PROCESS_IS_TERMINATING = zov::kernel::detail::MakeStatus(0xC000010A);
constexpr NTSTATUS STATUS_CANCELLED = zov::kernel::detail::MakeStatus(0xC0000120);
constexpr NTSTATUS STATUS_CANNOT_DELETE = zov::kernel::detail::MakeStatus(0xC0000121);
constexpr NTSTATUS STATUS_SERIAL_NO_DEVICE_INITED = zov::kernel::detail::MakeStatus(0xC0000150);
constexpr NTSTATUS STATUS_KEY_DELETED = zov::kernel::detail::MakeStatus(0xC000017C);
constexpr NTSTATUS STATUS_DEVICE_CONFIGURATION_ERROR = zov::kernel::detail::MakeStatus(0xC0000182);
constexpr NTSTATUS STATUS_DRIVER_INTERNAL_ERROR = zov::kernel::detail::MakeStatus(0xC0000183);
constexpr NTSTATUS STATUS_INVALID_DEVICE_STATE = zov::kernel::detail::MakeStatus(0xC0000184);
constexpr NTSTATUS STATUS_IO_DEVICE_ERROR = zov::kernel::detail::MakeStatus(0xC0000185);
constexpr NTSTATUS STATUS_DEVICE_PROTOCOL_ERROR = zov::kernel::detail::MakeStatus(0xC0000186);
constexpr NTSTATUS STATUS_INVALID_BUFFER_SIZE = zov::kernel::detail::MakeStatus(0xC0000206);
constexpr NTSTATUS STATUS_NOT_FOUND = zov::kernel::detail::MakeStatus(0xC0000225);
constexpr NTSTATUS STATUS_RETRY = zov::kernel::detail::MakeStatus(0xC000022D);
constexpr NTSTATUS STATUS_HANDLE_NOT_CLOSABLE = zov::kernel::detail::MakeStatus(0xC0000235);
constexpr NTSTATUS STATUS_REQUEST_ABORTED = zov::kernel::detail::MakeStatus(0xC0000240);
constexpr NTSTATUS STATUS_WMI_GUID_NOT_FOUND = zov::kernel::detail::MakeStatus(0xC0000295);
constexpr NTSTATUS STATUS_WMI_INSTANCE_NOT_FOUND = zov::kernel::detail::MakeStatus(0xC0000296);
constexpr NTSTATUS STATUS_WMI_ITEMID_NOT_FOUND = zov::kernel::detail::MakeStatus(0xC0000297);
constexpr NTSTATUS STATUS_WMI_TRY_AGAIN = zov::kernel::detail::MakeStatus(0xC0000298);
constexpr NTSTATUS STATUS_DEVICE_REMOVED = zov::kernel::detail::MakeStatus(0xC00002B6);
constexpr NTSTATUS STATUS_WMI_READ_ONLY = zov::kernel::detail::MakeStatus(0xC00002C6);
constexpr NTSTATUS STATUS_WMI_SET_FAILURE = zov::kernel::detail::MakeStatus(0xC00002C7);
constexpr NTSTATUS STATUS_POWER_STATE_INVALID = zov::kernel::detail::MakeStatus(0xC00002D3);
constexpr NTSTATUS STATUS_WMI_NOT_SUPPORTED = zov::kernel::detail::MakeStatus(0xC00002DD);
constexpr NTSTATUS STATUS_INVALID_DEVICE_OBJECT_PARAMETER =
    zov::kernel::detail::MakeStatus(0xC0000369);
