// The journal: what the user saw (message boxes, system boxes, the exit
// code), one line each in the machine's journal.txt.
#ifndef WINSIM_JOURNAL_H
#define WINSIM_JOURNAL_H

#include <string>
#include <vector>

namespace winsim {

void JournalAppend(const std::string& line);
std::vector<std::string> ReadJournal();

}  // namespace winsim

#endif  // WINSIM_JOURNAL_H
