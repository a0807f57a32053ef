#pragma once

// What olvex says about itself, all made from the declaration of its commands and options
// (CommandLine.h): the help it prints, and at build time the manual page and the bash
// completion that are installed beside it.

#include <string>

namespace olvex::cli {

// The general help, or one command's help when `command` names a command of the table.
std::string helpText(const std::string& command = {});

// The manual page olvex(1) in roff: the general help's text in the page's sections, each
// command's own options described below it.
std::string manualPage(const std::string& version);

// A bash completion script: command names, each command's options, file names otherwise.
std::string bashCompletion();

} // namespace olvex::cli
