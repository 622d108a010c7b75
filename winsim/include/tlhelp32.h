/*
 * tlhelp32.h for the Linux build: the process snapshot of the Toolhelp
 * functions.  PROCESSENTRY32 keeps its 296-byte 32-bit layout.
 */
#ifndef WINSIM_TLHELP32_H
#define WINSIM_TLHELP32_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TH32CS_SNAPHEAPLIST 0x00000001
#define TH32CS_SNAPPROCESS 0x00000002
#define TH32CS_SNAPTHREAD 0x00000004
#define TH32CS_SNAPMODULE 0x00000008

typedef struct tagPROCESSENTRY32 {
  DWORD dwSize;
  DWORD cntUsage;
  DWORD th32ProcessID;
  DWORD th32DefaultHeapID; /* ULONG_PTR on 32-bit Windows: 4 bytes */
  DWORD th32ModuleID;
  DWORD cntThreads;
  DWORD th32ParentProcessID;
  LONG pcPriClassBase;
  DWORD dwFlags;
  CHAR szExeFile[MAX_PATH];
} PROCESSENTRY32, *PPROCESSENTRY32, *LPPROCESSENTRY32;

HANDLE WINAPI CreateToolhelp32Snapshot(DWORD dwFlags, DWORD th32ProcessID);
BOOL WINAPI Process32First(HANDLE hSnapshot, LPPROCESSENTRY32 lppe);
BOOL WINAPI Process32Next(HANDLE hSnapshot, LPPROCESSENTRY32 lppe);

#ifdef __cplusplus
}
#endif

#endif /* WINSIM_TLHELP32_H */
