// A symbolic link the driver created, deleted again at the latest on destruction.
#pragma once

#include <wdm.h>

#include "framework/counted_string.h"

namespace framework {

class SymbolicLink {
  public:
    SymbolicLink() = default;
    SymbolicLink(const SymbolicLink&) = delete;
    SymbolicLink& operator=(const SymbolicLink&) = delete;
    ~SymbolicLink();

    // Stores the name (raising when it cannot) and creates the link to `target`.
    [[nodiscard]] NTSTATUS Create(const WCHAR* linkName, PUNICODE_STRING target);
    // Deletes the link if this object created it.
    void Delete();

    [[nodiscard]] bool IsCreated() const { return created_ != 0; }
    [[nodiscard]] const CountedString& Name() const { return name_; }

  private:
    CountedString name_;
    UCHAR created_ = 0;
};

}  // namespace framework
