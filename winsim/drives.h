// Drives of the attached machine (drives.cpp).
#ifndef WINSIM_DRIVES_H
#define WINSIM_DRIVES_H

namespace winsim {

// What the system does when a call of the program reaches drive `letter`
// and finds no medium in it: without SEM_FAILCRITICALERRORS in the error
// mode its critical-error box, recorded in the journal.
void NotReadyDriveBox(char letter);

}  // namespace winsim

#endif  // WINSIM_DRIVES_H
