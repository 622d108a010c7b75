// Sample component files and the sample distribution disc, put into a
// machine as the product's setup would leave them: the payload beside the
// program (SourceDir), the disc in a CD-ROM drive.
#ifndef WINSIM_PAYLOAD_H
#define WINSIM_PAYLOAD_H

#include <string>

namespace winsim {

// samples/ of the source tree.
std::string SamplesDir();
// Copies the component files of payload `version` ("v1", "v2": the folders
// under samples/payload/, plus the files shared by every version that lie
// in samples/payload/ itself) into the folder of the attached machine's
// program, creating that folder when missing; existing files of the same
// name (in any letter case) are overwritten.  False with a message when the
// version is unknown or a file cannot be written.
bool InstallPayload(const std::string &version, std::string *error);
// Copies the files of the host folder `dir` (with its subfolders), a
// packager's own release, beside the program in the same way.
bool InstallPayloadDir(const std::string &dir, std::string *error);
// Copies samples/disc/ (or the host folder `dir`, laid out like the disc)
// onto drive `letter` of the attached machine, which must be a CD-ROM drive.
bool InsertDisc(char letter, std::string *error, const std::string &dir = std::string());

}  // namespace winsim

#endif  // WINSIM_PAYLOAD_H
