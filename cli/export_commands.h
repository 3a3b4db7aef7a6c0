// pixmora-cli's export subcommands (cli/export_commands.cpp).
#pragma once

// export OUTDIR IN...: frames every input and writes OUTDIR/0.jpg, 1.jpg, ...
// encode IN.bmp OUT.jpg: encodes a 128 x 128 24-bit BMP as it is.
// Arguments after the command name; exit codes as the other subcommands.
int CmdExport(int argc, char** argv);
int CmdEncode(int argc, char** argv);

// Their lines of the usage text.
extern const char kExportUsage[];
