// Profile files (profiles.cpp): the process-wide state of the profile calls.
#ifndef WINSIM_PROFILES_H
#define WINSIM_PROFILES_H

namespace winsim {

// Drops the 9x profile cache (at attach, detach and restart).
void ResetProfileCache();

}  // namespace winsim

#endif  // WINSIM_PROFILES_H
