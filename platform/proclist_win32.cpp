#include <windows.h>
#include <tlhelp32.h>

#include "platform/proclist.h"
#include "platform/win32util.h"

namespace platform {

std::vector<ProcessEntry> ListProcesses() {
  std::vector<ProcessEntry> processes;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return processes;
  PROCESSENTRY32W pe{};
  pe.dwSize = sizeof pe;
  for (BOOL more = Process32FirstW(snapshot, &pe); more; more = Process32NextW(snapshot, &pe)) {
    pe.szExeFile[MAX_PATH - 1] = L'\0';
    processes.push_back({static_cast<uint32_t>(pe.th32ProcessID), {U(pe.szExeFile)}});
  }
  CloseHandle(snapshot);
  return processes;
}

bool TerminateProcessById(uint32_t id) {
  HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, id);
  if (!h) return false;
  const bool ok = TerminateProcess(h, 0) != 0;
  CloseHandle(h);
  return ok;
}

}  // namespace platform
