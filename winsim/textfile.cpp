#include "textfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace winsim {

bool ReadTextFile(const std::string &path, std::string *out) {
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  out->clear();
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0) {
      close(fd);
      return false;
    }
    if (n == 0) break;
    out->append(buffer, size_t(n));
  }
  close(fd);
  return true;
}

bool WriteFileAtomically(const std::string &path, const std::string &data) {
  std::string temp = path + ".tmp" + std::to_string(getpid());
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n <= 0) {
      close(fd);
      unlink(temp.c_str());
      return false;
    }
    done += size_t(n);
  }
  if (close(fd) != 0 || rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace winsim
