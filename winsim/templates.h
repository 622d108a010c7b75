// New machines from the templates of samples/machines (templates.cpp).
#ifndef WINSIM_TEMPLATES_H
#define WINSIM_TEMPLATES_H

#include <string>

namespace winsim {

// Creates a new machine in `dir` (missing or empty) as a copy of the template
// directory `templateDir` (machine.ini, drives/, registry/; files named
// ".gitkeep" only hold empty folders in the repository and are not copied).
bool CreateMachine(const std::string &templateDir, const std::string &dir, std::string *error);
// samples/machines/<name> of the source tree, or `name` itself when it is a
// path to a directory.
std::string TemplateDir(const std::string &name);

}  // namespace winsim

#endif  // WINSIM_TEMPLATES_H
