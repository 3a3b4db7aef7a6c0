// pixmora-cli's export subcommands (cli/export_commands.cpp).
#pragma once

#include "cli/cli_options.h"

// export OUTDIR IN...: fits and edits every input (files, or folders of
// pictures) and writes the set OUTDIR/0.jpg, 1.jpg, ... all or nothing.
int CmdExport(const CliArgs& args);
// encode IN.bmp OUT.jpg: encodes a 128 x 128 24-bit BMP as it is.
int CmdEncode(const CliArgs& args);
