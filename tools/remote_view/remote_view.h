// Test equipment: memory shared with another process, for the tools that hand it data through pointers
// (a DLL's path for LoadLibraryW, a tool tip's TOOLINFO). A page-file section is mapped here and into
// the other process; both views are the same bytes. Unlike VirtualAllocEx with Write/ReadProcessMemory,
// this never reaches into the other address space from outside, which Wine cannot do when its i386
// programs run under qemu's user emulation (no ptrace there).
#pragma once

#include <windows.h>

#include <cstddef>

class RemoteView {
 public:
  RemoteView(HANDLE process, SIZE_T size) : process_(process) {
    section_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, static_cast<DWORD>(size),
                                  nullptr);
    if (!section_) return;
    local_ = MapViewOfFile(section_, FILE_MAP_ALL_ACCESS, 0, 0, size);
    const auto mapView = reinterpret_cast<MapViewOfSection>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtMapViewOfSection")));
    SIZE_T viewSize = 0;
    constexpr int kViewUnmap = 2;  // SECTION_INHERIT: the view is not inherited by child processes
    if (!local_ || !mapView ||
        mapView(section_, process_, &remote_, 0, 0, nullptr, &viewSize, kViewUnmap, 0, PAGE_READWRITE) < 0) {
      remote_ = nullptr;
    }
  }
  ~RemoteView() {
    const auto unmapView = reinterpret_cast<UnmapViewOfSection>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtUnmapViewOfSection")));
    if (remote_ && unmapView) unmapView(process_, remote_);
    if (local_) UnmapViewOfFile(local_);
    if (section_) CloseHandle(section_);
  }
  RemoteView(const RemoteView&) = delete;
  RemoteView& operator=(const RemoteView&) = delete;

  explicit operator bool() const { return remote_ != nullptr; }
  // This process's view and the other process's address of the same bytes.
  char* local() const { return static_cast<char*>(local_); }
  char* remote() const { return static_cast<char*>(remote_); }
  // A pointer into this process's view, as the other process sees it.
  template <typename T>
  T* RemoteAddressOf(T* local) const {
    return reinterpret_cast<T*>(remote() + (reinterpret_cast<char*>(local) - this->local()));
  }

 private:
  using MapViewOfSection = LONG(NTAPI*)(HANDLE, HANDLE, PVOID*, ULONG_PTR, SIZE_T, PLARGE_INTEGER, PSIZE_T,
                                        int, ULONG, ULONG);
  using UnmapViewOfSection = LONG(NTAPI*)(HANDLE, PVOID);

  HANDLE process_;
  HANDLE section_ = nullptr;
  void* local_ = nullptr;
  void* remote_ = nullptr;
};
