// The ASPI layer: its DLLs, its VxDs (9x) or kernel driver (NT), staged
// beside the live files and swapped in at the next restart, with a backup of
// each previous live file; and the registry entries that load the layer.
#include <windows.h>

#include "components/components.h"
#include "deploy/deploy.h"
#include "platform.h"

namespace {

// One file of the layer: where it comes from and its three names, relative
// to the directory of its row.
struct AspiFile {
  const char *source;
  const char *staging;
  const char *live;
  const char *backup;
  bool underWindowsDir;  // NT rows 3 and 4 live in WindowsDir\SYSTEM
};

const AspiFile kFiles9x[] = {
    {"WNASPI32.9x", "WNASPI32.9x", "WNASPI32.DLL", "WNASPI32.OLD", false},
    {"WINASPI.9x", "WINASPI.9x", "WINASPI.DLL", "WINASPI.OLD", false},
    {"ASPIENUM.9x", "ASPIENUM.9x", "ASPIENUM.VXD", "ASPIENUM.OLD", false},
    {"APIX.9x", "IOSUBSYS\\APIX.9x", "IOSUBSYS\\APIX.VXD", "IOSUBSYS\\APIX.OLD", false},
};

const AspiFile kFilesNT[] = {
    {"ASPI32.NT", "Drivers\\ASPI32.NT", "Drivers\\ASPI32.SYS", "Drivers\\ASPI32.OLD", false},
    {"WNASPI32.NT", "WNASPI32.NT", "WNASPI32.DLL", "WNASPI32.OLD", false},
    {"WINASPI.NT", "SYSTEM\\WINASPI.NT", "SYSTEM\\WINASPI.DLL", "SYSTEM\\WINASPI.OLD", true},
    {"WOWPOST.NT", "SYSTEM\\WOWPOST.NT", "SYSTEM\\WOWPOST.EXE", "SYSTEM\\WOWPOST.OLD", true},
};

// Queues backup and replacement of each staged file; false when a
// WININIT.INI entry was refused (nothing after it is done).
bool StageFiles9x(const std::string &sourceDir, const std::string &systemDir) {
  for (const AspiFile &f : kFiles9x) {
    if (!CopyWritable(sourceDir + f.source, systemDir + f.staging)) continue;
    if (!QueueRename9xWithBackup(systemDir + f.live, systemDir + f.staging, systemDir + f.backup))
      return false;
  }
  return true;
}

// Queues backup and replacement of each staged file; a refused replacement
// never leaves the live file moved away.  A second run before the restart
// must not queue a pair that is already pending: carried out twice, the
// repeated backup move would take the freshly installed file to its backup
// name and leave no live file.
void StageFilesNT(const std::string &sourceDir, const std::string &windowsDir,
                  const std::string &systemDir) {
  for (const AspiFile &f : kFilesNT) {
    const std::string &dir = f.underWindowsDir ? windowsDir : systemDir;
    std::string staging = dir + f.staging, live = dir + f.live, backup = dir + f.backup;
    if (!CopyWritable(sourceDir + f.source, staging)) continue;
    MoveList pending = ReadPendingMoves();
    if (MoveIsPending(pending, staging, live)) continue;  // both moves already queued
    // A backup move that an earlier run took back (below) counts as not
    // queued: the move back takes its target away again.
    bool backupQueued = !MoveIsPending(pending, live, backup) && QueueReplaceNT(live, backup);
    // A refused replacement after a queued backup would leave the live name
    // empty after the restart: the backup is moved back in place then.
    if (!QueueReplaceNT(staging, live) && backupQueued && FileIsPresent(live))
      QueueReplaceNT(backup, live);
  }
}

void WriteRegistry9x() {
  const char aspiEnum[] = "SYSTEM\\CurrentControlSet\\Services\\VXD\\ASPIEnum";
  WriteRegDword(HKEY_LOCAL_MACHINE, aspiEnum, "Start", 0);
  WriteRegString(HKEY_LOCAL_MACHINE, aspiEnum, "StaticVxD", "ASPIENUM.VXD");
  WriteRegString(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\VXD\\APIX",
                 "ExcludeMiniports", "");
}

void WriteRegistryNT() {
  const char service[] = "SYSTEM\\CurrentControlSet\\Services\\Aspi32";
  WriteRegDword(HKEY_LOCAL_MACHINE, service, "Type", 1);
  WriteRegDword(HKEY_LOCAL_MACHINE, service, "Start", 2);
  WriteRegDword(HKEY_LOCAL_MACHINE, service, "Undoable", 1);
  WriteRegDword(HKEY_LOCAL_MACHINE, service, "ErrorControl", 1);
  WriteRegDword(HKEY_LOCAL_MACHINE, service, "MatchFlags", 0);
  WriteRegString(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Aspi32\\Parameters",
                 "ExcludeMiniports", "");
}

}  // namespace

bool InstallAspiLayer(std::string sourceDir, std::string windowsDir, std::string systemDir) {
  sourceDir = WithBackslash(sourceDir, 1);
  windowsDir = WithBackslash(windowsDir, 1);
  systemDir = WithBackslash(systemDir, 1);
  if (PlatformFamily == Family::Windows9x) {
    if (FileIsPresent(systemDir + "WNASPI32.DLL")) return true;
    if (!StageFiles9x(sourceDir, systemDir)) return false;
    WriteRegistry9x();
  } else {
    if (FileIsPresent(systemDir + "Drivers\\ASPI32.SYS")) return true;
    StageFilesNT(sourceDir, windowsDir, systemDir);
    WriteRegistryNT();
  }
  return true;
}
