// pixmora-cli's export command (cli/export_commands.cpp).
#pragma once

#include "cli/cli_options.h"

// export OUTDIR IN...: fits and edits every input (files, folders of
// pictures, standard input) and writes the set OUTDIR/0.jpg, 1.jpg, ... all
// or nothing, after checking every input; a closing line says what it did.
int CmdExport(const CliArgs& args);
