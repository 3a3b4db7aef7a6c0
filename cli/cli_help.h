// pixmora-cli's help: the overview of every command, and for each command
// its usage, its options in the picture's terms and a few examples. The
// manual page is made from these texts when the program is built.
#pragma once

#include <string>

// The overview for `command` "" (help, --help), else that command's help;
// "" for a name that is no command.
std::string HelpText(const std::string& command);

// The commands in the order the overview lists them.
extern const char* const kHelpCommands[5];
