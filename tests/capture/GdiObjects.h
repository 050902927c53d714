#pragma once
#include <windows.h>
#include <winternl.h>

// The number of GDI objects this process holds. Windows answers through
// GetGuiResources; Wine does not implement that, but keeps the same kind of
// handle table as Windows, reachable from the process environment block, in
// which every live object has a non-zero type.
inline DWORD gdiObjectCount() {
  const DWORD counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  if (counted != 0) return counted;
  using QueryProcess = LONG(WINAPI*)(HANDLE, PROCESSINFOCLASS, void*, ULONG, ULONG*);
  auto query = reinterpret_cast<QueryProcess>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
  PROCESS_BASIC_INFORMATION basic = {};
  if (!query || query(GetCurrentProcess(), ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0) {
    return 0;
  }
  const BYTE* peb = reinterpret_cast<const BYTE*>(basic.PebBaseAddress);
#ifdef _WIN64
  const size_t tableOffset = 0xF8;  // PEB.GdiSharedHandleTable on x64
#else
  const size_t tableOffset = 0x94;  // and on x86
#endif
  const BYTE* table = *reinterpret_cast<const BYTE* const*>(peb + tableOffset);
  if (!table) return 0;
  // Entries of 24 bytes: kernel address (8), owner (4), uniqueness (2),
  // type (1), flags (1), user address (8); 65,536 of them.
  constexpr size_t kEntrySize = 24;
  constexpr size_t kTypeOffset = 14;
  constexpr size_t kEntries = 0x10000;
  DWORD live = 0;
  for (size_t i = 0; i < kEntries; ++i) {
    if (table[i * kEntrySize + kTypeOffset] != 0) ++live;
  }
  return live;
}
