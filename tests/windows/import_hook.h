// A seam for the Windows-side tests: one of this program's imports sent to a function of the test's
// own, for as long as the hook lives. The launcher's code is linked into the test program, so its calls
// of the system go through these same imports.
#pragma once

#include <windows.h>

#include <cstring>

namespace windows_test {

// While it lives, this program's import of dll!function goes to a function of the test's own.
class ImportHook {
 public:
  ImportHook(const char* dll, const char* function, void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(::GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         entry->Name != 0; ++entry) {
      if (::lstrcmpiA(reinterpret_cast<const char*>(base + entry->Name), dll) != 0) continue;
      const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
      auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
      for (; names->u1.AddressOfData != 0; ++names, ++slots) {
        if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
        const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
        if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
        slot_ = reinterpret_cast<void**>(&slots->u1.Function);
        original_ = Swap(replacement);
        return;
      }
    }
  }
  ~ImportHook() {
    if (slot_) Swap(original_);
  }
  ImportHook(const ImportHook&) = delete;
  ImportHook& operator=(const ImportHook&) = delete;
  bool active() const { return slot_ != nullptr; }
  void* original() const { return original_; }

 private:
  void* Swap(void* function) {
    DWORD protection = 0;
    ::VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &protection);
    void* previous = *slot_;
    *slot_ = function;
    ::VirtualProtect(slot_, sizeof *slot_, protection, &protection);
    return previous;
  }

  void** slot_ = nullptr;
  void* original_ = nullptr;
};

}  // namespace windows_test
