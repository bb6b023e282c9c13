// The object namespace: device names, symbolic links and device interfaces.
#include <cstdio>
#include <map>

#include "internal/dispatcher.h"
#include "internal/io_manager.h"
#include "internal/pool.h"
#include "internal/verifier.h"

namespace kernel::internal {
namespace {

struct NameEntry {
    std::u16string displayName;       // as created
    PDEVICE_OBJECT device = nullptr;  // a device name, or an enabled interface's device
    std::u16string target;            // a symbolic link's target
    bool isLink = false;
};

struct InterfaceRecord {
    InterfaceInfo info;
};

struct Namespace {
    std::map<std::u16string, NameEntry> names;             // by normalised name
    std::map<std::u16string, InterfaceRecord> interfaces;  // by normalised link name
};

Namespace& Names() {
    static Namespace names;
    return names;
}

constexpr int kMaximumLinkDepth = 32;

std::u16string Ascii(const char* text) {
    std::u16string result;
    while (*text != '\0') result.push_back(static_cast<char16_t>(*text++));
    return result;
}

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

std::u16string FromUnicode(PCUNICODE_STRING string) {
    if (string == nullptr || string->Buffer == nullptr) return {};
    return std::u16string(string->Buffer, string->Length / sizeof(WCHAR));
}

std::u16string GuidText(const GUID& guid) {
    char text[64];
    std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return Ascii(text);
}

}  // namespace

std::u16string NormalizeName(std::u16string_view name) {
    std::u16string upper(name);
    for (auto& c : upper) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    }
    for (const char* alias : {"\\DOSDEVICES\\", "\\GLOBAL??\\"}) {
        const std::u16string prefix = Ascii(alias);
        if (StartsWith(upper, prefix)) return u"\\??\\" + upper.substr(prefix.size());
    }
    return upper;
}

bool NameExists(std::u16string_view name) {
    std::lock_guard guard(IoMutex());
    return Names().names.count(NormalizeName(name)) != 0;
}

void RegisterDeviceName(std::u16string_view name, PDEVICE_OBJECT device) {
    std::lock_guard guard(IoMutex());
    NameEntry entry;
    entry.displayName = name;
    entry.device = device;
    Names().names[NormalizeName(name)] = entry;
}

void UnregisterDeviceName(std::u16string_view name) {
    std::lock_guard guard(IoMutex());
    Names().names.erase(NormalizeName(name));
}

NTSTATUS LookupDevice(std::u16string_view name, PDEVICE_OBJECT* device, std::u16string* remainder) {
    std::lock_guard guard(IoMutex());
    auto& names = Names().names;
    std::u16string original(name);  // the remainder keeps the caller's case
    std::u16string current = NormalizeName(name);
    std::u16string rest;
    for (int depth = 0; depth < kMaximumLinkDepth; ++depth) {
        // The longest prefix that is a name, cut at a backslash; the rest is the
        // file name within the device. Normalising only shortens the start of a
        // name, so the rest is also the end of the original text.
        auto found = names.find(current);
        size_t tailLength = 0;
        while (found == names.end()) {
            const size_t cut = current.find_last_of(u'\\');
            if (cut == 0 || cut == std::u16string::npos) return STATUS_OBJECT_NAME_NOT_FOUND;
            tailLength += current.size() - cut;
            current.resize(cut);
            found = names.find(current);
        }
        rest = original.substr(original.size() - tailLength) + rest;
        if (!found->second.isLink || found->second.device != nullptr) {
            *device = found->second.device;
            *remainder = rest;
            return STATUS_SUCCESS;
        }
        original = found->second.target;
        current = NormalizeName(original);
    }
    return STATUS_OBJECT_NAME_NOT_FOUND;
}

std::vector<LinkInfo> LiveLinks() {
    std::lock_guard guard(IoMutex());
    std::vector<LinkInfo> links;
    for (const auto& [key, entry] : Names().names) {
        if (entry.isLink) links.push_back({entry.displayName, entry.target, entry.device});
    }
    return links;
}

std::vector<InterfaceInfo> Interfaces() {
    std::lock_guard guard(IoMutex());
    std::vector<InterfaceInfo> interfaces;
    for (const auto& [key, record] : Names().interfaces) interfaces.push_back(record.info);
    return interfaces;
}

void ForgetNamespace() {
    std::lock_guard guard(IoMutex());
    Names().names.clear();
    Names().interfaces.clear();
}

}  // namespace kernel::internal

using namespace kernel::internal;

NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING symbolicLinkName, PUNICODE_STRING deviceName) {
    RequireIrqlAtMost(PASSIVE_LEVEL, "IoCreateSymbolicLink");
    const std::u16string link = FromUnicode(symbolicLinkName);
    const std::u16string target = FromUnicode(deviceName);
    if (link.empty() || target.empty()) return STATUS_OBJECT_NAME_INVALID;
    std::lock_guard guard(IoMutex());
    auto& names = Names().names;
    const std::u16string key = NormalizeName(link);
    if (names.count(key) != 0) return STATUS_OBJECT_NAME_COLLISION;
    NameEntry entry;
    entry.displayName = link;
    entry.target = target;
    entry.isLink = true;
    names[key] = entry;
    return STATUS_SUCCESS;
}

NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING symbolicLinkName) {
    RequireIrqlAtMost(PASSIVE_LEVEL, "IoDeleteSymbolicLink");
    std::lock_guard guard(IoMutex());
    auto& names = Names().names;
    auto found = names.find(NormalizeName(FromUnicode(symbolicLinkName)));
    if (found == names.end() || !found->second.isLink || found->second.device != nullptr) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    names.erase(found);
    return STATUS_SUCCESS;
}

NTSTATUS IoRegisterDeviceInterface(PDEVICE_OBJECT physicalDeviceObject,
                                   const GUID* interfaceClassGuid, PUNICODE_STRING referenceString,
                                   PUNICODE_STRING symbolicLinkName) {
    RequireIrqlAtMost(PASSIVE_LEVEL, "IoRegisterDeviceInterface");
    if (physicalDeviceObject == nullptr || interfaceClassGuid == nullptr ||
        symbolicLinkName == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    const std::u16string reference = FromUnicode(referenceString);
    char instance[48];
    std::snprintf(instance, sizeof instance, "\\??\\ZOVSIM#DEVICE#%p#",
                  static_cast<void*>(physicalDeviceObject));
    std::u16string link = Ascii(instance) + GuidText(*interfaceClassGuid);
    if (!reference.empty()) link += u"\\" + reference;
    // A name no UNICODE_STRING can hold is refused.
    if ((link.size() + 1) * sizeof(WCHAR) > 0xFFFF) return STATUS_INVALID_PARAMETER;
    {
        std::lock_guard guard(IoMutex());
        auto& record = Names().interfaces[NormalizeName(link)];
        if (record.info.linkName.empty()) {
            record.info = {*interfaceClassGuid, physicalDeviceObject, reference, link, false};
        }
    }
    const size_t bytes = link.size() * sizeof(WCHAR);
    auto* buffer = static_cast<PWCHAR>(
        ExAllocatePoolWithTag(PagedPool, bytes + sizeof(WCHAR), PoolTag("IoIf")));
    if (buffer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    std::copy(link.begin(), link.end(), buffer);
    buffer[link.size()] = 0;
    symbolicLinkName->Buffer = buffer;
    symbolicLinkName->Length = static_cast<USHORT>(bytes);
    symbolicLinkName->MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
    return STATUS_SUCCESS;
}

NTSTATUS IoSetDeviceInterfaceState(PUNICODE_STRING symbolicLinkName, BOOLEAN enable) {
    RequireIrqlAtMost(PASSIVE_LEVEL, "IoSetDeviceInterfaceState");
    std::lock_guard guard(IoMutex());
    auto& ns = Names();
    const std::u16string key = NormalizeName(FromUnicode(symbolicLinkName));
    auto found = ns.interfaces.find(key);
    if (found == ns.interfaces.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
    InterfaceInfo& info = found->second.info;
    if (enable) {
        if (info.enabled) return STATUS_OBJECT_NAME_EXISTS;
        // The link is the interface name without its reference string.
        std::u16string linkKey = key;
        if (!info.referenceString.empty()) {
            linkKey.resize(linkKey.size() - info.referenceString.size() - 1);
        }
        NameEntry entry;
        entry.displayName = info.linkName;
        entry.device = info.physicalDevice;
        entry.isLink = true;
        ns.names[linkKey] = entry;
        info.enabled = true;
        return STATUS_SUCCESS;
    }
    if (!info.enabled) return STATUS_OBJECT_NAME_NOT_FOUND;
    std::u16string linkKey = key;
    if (!info.referenceString.empty()) {
        linkKey.resize(linkKey.size() - info.referenceString.size() - 1);
    }
    ns.names.erase(linkKey);
    info.enabled = false;
    return STATUS_SUCCESS;
}
