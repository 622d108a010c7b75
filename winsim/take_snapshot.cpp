// TakeSnapshot: reads the whole state of a machine into a MachineSnapshot
// (files of every drive, the registry, the profile files, the pending moves,
// the journal).  It reads the machine's stores directly instead of calling
// the API, so a dump neither counts as calls nor trips an injected fault.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "attributes.h"
#include "journal.h"
#include "machine.h"
#include "paths.h"
#include "regstore.h"
#include "report.h"
#include "restart_queue.h"
#include "textfile.h"

namespace winsim {

namespace {


// Hashes a file without holding it in memory at once.
bool DumpHashFile(const std::string &host, uint64_t *size, std::string *hash) {
  FILE *f = fopen(host.c_str(), "rb");
  if (!f) return false;
  uint64_t h = kFnvOffsetBasis, total = 0;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
    h = Fnv1a64(buf, n, h);
    total += n;
  }
  bool ok = !ferror(f);
  fclose(f);
  *size = total;
  *hash = FormatHash(h);
  return ok;
}

// Attributes as GetFileAttributesA reports them.
uint32_t DumpReportedAttributes(const std::string &windowsPath, bool directory) {
  ResolvedPath r;
  r.windows = windowsPath;
  r.isDirectory = directory;
  r.exists = true;
  DWORD a = StoredAttributes(r);
  if (directory) return a | FILE_ATTRIBUTE_DIRECTORY;
  return a ? a : FILE_ATTRIBUTE_NORMAL;
}

bool DumpWalk(const std::string &host, const std::string &windows, MachineSnapshot *out,
              std::string *error) {
  DIR *d = opendir(host.c_str());
  if (!d) {
    *error = host + ": cannot read the folder";
    return false;
  }
  std::vector<std::string> names;
  while (struct dirent *e = readdir(d))
    if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) names.push_back(e->d_name);
  closedir(d);
  std::sort(names.begin(), names.end());
  for (const std::string &name : names) {
    std::string childHost = host + "/" + name, childWindows = windows + "\\" + name;
    struct stat st;
    if (lstat(childHost.c_str(), &st) != 0) continue;
    FileState f;
    if (S_ISDIR(st.st_mode)) {
      f.directory = true;
      f.attributes = DumpReportedAttributes(childWindows, true);
      out->files[childWindows] = f;
      if (!DumpWalk(childHost, childWindows, out, error)) return false;
    } else if (S_ISREG(st.st_mode)) {
      if (!DumpHashFile(childHost, &f.size, &f.hash)) {
        *error = childHost + ": cannot read";
        return false;
      }
      f.attributes = DumpReportedAttributes(childWindows, false);
      out->files[childWindows] = f;
    }
    // Anything else (a link, a device) is not part of a Windows drive.
  }
  return true;
}

bool DumpFiles(MachineSnapshot *out, std::string *error) {
  for (const auto &drive : Config().drives) {
    std::string host = DriveHostDir(drive.first);
    struct stat st;
    if (stat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;  // no medium
    if (!DumpWalk(host, std::string(1, drive.first) + ":", out, error)) return false;
  }
  return true;
}

void DumpKey(const reg::Key *key, MachineSnapshot *out) {
  if (key->deleted) return;
  std::string path = reg::FullPath(key);
  if (key->parent) out->keys.push_back(path);  // the hive roots always exist
  for (const reg::Value &v : key->values) {
    RegValueState state;
    state.type = v.type;
    state.data.assign(v.data.begin(), v.data.end());
    out->values[path + "\\\\" + v.name] = state;
  }
  for (const reg::Key *sub : key->subkeys) DumpKey(sub, out);
}

void DumpRegistry(MachineSnapshot *out) {
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
    if (const reg::Key *key = reg::Root(root)) DumpKey(key, out);
  std::sort(out->keys.begin(), out->keys.end());
  reg::Key *session =
      reg::Find(reg::Root(HKEY_LOCAL_MACHINE), kSessionManager);
  if (reg::Value *v = session ? reg::FindValue(session, kPendingValue) : nullptr)
    out->pendingMoves = PendingPairs(std::vector<uint8_t>(v->data.begin(), v->data.end()));
}

void DumpProfiles(MachineSnapshot *out) {
  for (const char *name : {"SYSTEM.INI", "WININIT.INI", "WININIT.BAK"}) {
    ResolvedPath r;
    std::string path = Config().windowsDir + "\\" + name, content;
    if (ResolvePath(path.c_str(), &r) != 0 || !r.exists || r.isDirectory) continue;
    if (ReadTextFile(r.host, &content)) out->profiles[name] = SplitLines(content);
  }
}

}  // namespace

bool TakeSnapshot(const std::string &dir, MachineSnapshot *out, std::string *error) {
  bool attachedHere = !Attached();
  if (attachedHere && !Attach(dir, error)) return false;
  MachineSnapshot snapshot;
  bool ok = DumpFiles(&snapshot, error);
  if (ok) {
    DumpRegistry(&snapshot);
    DumpProfiles(&snapshot);
    snapshot.journal = ReadJournal();
    *out = snapshot;
  }
  if (attachedHere) Detach();
  return ok;
}

}  // namespace winsim
