// The error log: entries are parsed when written and kept for tests to read
// (sim/io.h). Strings are read only within the entry's allocated size.
#include <cstring>
#include <map>

#include "internal/dispatcher.h"
#include "internal/error_log.h"
#include "internal/io_manager.h"
#include "internal/verifier.h"

namespace kernel::internal {
namespace {

struct ErrorLogState {
    std::mutex mutex;
    std::map<void*, std::pair<PVOID, size_t>> allocated;  // entry -> (io object, size)
    std::vector<sim::ErrorLogEntry> written;
};

ErrorLogState& State() {
    static ErrorLogState state;
    return state;
}

constexpr size_t kDumpDataOffset = offsetof(IO_ERROR_LOG_PACKET, DumpData);

sim::ErrorLogEntry Parse(const unsigned char* bytes, size_t size, PVOID ioObject) {
    IO_ERROR_LOG_PACKET packet;
    std::memcpy(&packet, bytes, sizeof packet);
    sim::ErrorLogEntry entry{};
    entry.ioObject = ioObject;
    entry.majorFunctionCode = packet.MajorFunctionCode;
    entry.errorCode = packet.ErrorCode;
    entry.uniqueErrorValue = packet.UniqueErrorValue;
    entry.finalStatus = packet.FinalStatus;
    entry.sequenceNumber = packet.SequenceNumber;
    entry.ioControlCode = packet.IoControlCode;
    const size_t dumpEnd = std::min(size, kDumpDataOffset + packet.DumpDataSize);
    if (dumpEnd > kDumpDataOffset) entry.dumpData.assign(bytes + kDumpDataOffset, bytes + dumpEnd);
    size_t offset = packet.StringOffset;
    for (USHORT index = 0; index < packet.NumberOfStrings && offset + 1 < size; ++index) {
        std::u16string text;
        while (offset + 1 < size) {
            WCHAR c;
            std::memcpy(&c, bytes + offset, sizeof c);
            offset += sizeof c;
            if (c == 0) break;
            text.push_back(c);
        }
        entry.strings.push_back(std::move(text));
    }
    return entry;
}

}  // namespace

size_t UnwrittenErrorLogEntries() {
    auto& state = State();
    std::lock_guard guard(state.mutex);
    return state.allocated.size();
}

void ForgetErrorLog() {
    auto& state = State();
    std::lock_guard guard(state.mutex);
    for (auto& [entry, info] : state.allocated) delete[] static_cast<unsigned char*>(entry);
    state.allocated.clear();
    state.written.clear();
}

std::vector<sim::ErrorLogEntry> WrittenErrorLogEntries() {
    auto& state = State();
    std::lock_guard guard(state.mutex);
    return state.written;
}

}  // namespace kernel::internal

using namespace kernel::internal;

PVOID IoAllocateErrorLogEntry(PVOID ioObject, UCHAR entrySize) {
    if (ioObject == nullptr || entrySize > ERROR_LOG_MAXIMUM_SIZE) return nullptr;
    // Never smaller than the packet header, which every caller fills in.
    const size_t size = std::max<size_t>(entrySize, sizeof(IO_ERROR_LOG_PACKET));
    auto* entry = new unsigned char[size]();
    auto& state = State();
    std::lock_guard guard(state.mutex);
    state.allocated[entry] = {ioObject, size};
    return entry;
}

void IoWriteErrorLogEntry(PVOID elEntry) {
    auto& state = State();
    std::unique_lock guard(state.mutex);
    auto found = state.allocated.find(elEntry);
    if (found == state.allocated.end()) {
        guard.unlock();
        Violation violation{sim::Rule::BadPoolCaller, bugcheck::BAD_POOL_CALLER};
        violation.parameters[0] = reinterpret_cast<ULONG_PTR>(elEntry);
        violation.routine = "IoWriteErrorLogEntry";
        violation.message = "not an entry from IoAllocateErrorLogEntry (written twice?)";
        Report(violation);
        return;
    }
    auto* bytes = static_cast<unsigned char*>(elEntry);
    state.written.push_back(Parse(bytes, found->second.second, found->second.first));
    state.allocated.erase(found);
    delete[] bytes;
}

void IoFreeErrorLogEntry(PVOID elEntry) {
    auto& state = State();
    std::lock_guard guard(state.mutex);
    auto found = state.allocated.find(elEntry);
    if (found == state.allocated.end()) return;
    state.allocated.erase(found);
    delete[] static_cast<unsigned char*>(elEntry);
}
