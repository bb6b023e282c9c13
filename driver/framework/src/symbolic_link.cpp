#include "framework/symbolic_link.h"

namespace framework {

SymbolicLink::~SymbolicLink() {
    Delete();
    name_.Free();
}

NTSTATUS SymbolicLink::Create(const WCHAR* linkName, PUNICODE_STRING target) {
    Delete();  // a second Create must not lose the first link
    name_.Assign(linkName);
    const NTSTATUS status = IoCreateSymbolicLink(name_.Get(), target);
    if (NT_SUCCESS(status)) created_ = 1;
    return status;
}

void SymbolicLink::Delete() {
    if (created_ == 0) return;
    (void)IoDeleteSymbolicLink(name_.Get());
    created_ = 0;
}

}  // namespace framework
