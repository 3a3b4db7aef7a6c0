#include "cli/cli_help.h"

const char* const kHelpCommands[5] = {"frame", "edit", "export", "decode", "encode"};

namespace {

const char kOverview[] =
    "Usage: pixmora-cli COMMAND [OPTION]... OPERAND...\n"
    "Make the 128 x 128 pictures of a Pixmora digital frame from BMP, GIF and JPG\n"
    "pictures: fit them into the frame, edit them as Pixmora's tools do, and export\n"
    "whole sets for the frame's card.\n"
    "\n"
    "Commands:\n"
    "  frame IN OUT.bmp         fit a picture into the 128 x 128 frame picture\n"
    "  edit IN OUT.jpg|OUT.bmp  fit a picture, edit it, and write it\n"
    "  export OUTDIR IN...      fit and edit every picture (IN may be a folder) and\n"
    "                           write the set OUTDIR/0.jpg, 1.jpg, ... all or nothing\n"
    "  decode IN OUT.bmp        decode a picture at its own size\n"
    "  encode IN.bmp OUT.jpg    encode a 128 x 128 BMP as the frame's JPEG\n"
    "  help [COMMAND]           this text, or a command's options and examples\n"
    "\n"
    "IN may be - for standard input, OUT - for standard output (a BMP picture).\n"
    "Options may come before or after the operands; -- ends the options.\n"
    "\n"
    "Options of every command:\n"
    "  -v, --verbose   say for each picture what was done: the size read, the turn\n"
    "                  applied, the part shown and where it lands in the frame\n"
    "  -q, --quiet     no progress and no closing summary (warnings stay)\n"
    "      --strict    a picture whose data ends early or is damaged is an error\n"
    "                  (without it: a warning, and the picture as far as it reads)\n"
    "  -h, --help      this overview; after a command, that command's help\n"
    "      --version   the version\n"
    "\n"
    "Run 'pixmora-cli help COMMAND' for the options of a command, with examples.\n"
    "\n"
    "Exit status:\n"
    "  0  done (warnings may have been given)\n"
    "  1  a picture could not be read or written: the reasons are on standard\n"
    "     error, and export then writes nothing\n"
    "  2  the command line is wrong (also a --crop that is not inside a picture):\n"
    "     nothing was written\n";

const char kFitting[] =
    "Fitting the picture into the 128 x 128 frame picture (also --blend and --frame\n"
    "pictures):\n"
    "  --fit stretch|fill|inside\n"
    "                  stretch: the whole picture, stretched to the square (the\n"
    "                  default; a picture that is not square looks squeezed);\n"
    "                  fill: the largest square in the middle of the picture, the\n"
    "                  edges beyond it cut; inside: the whole picture in its own\n"
    "                  shape, with black bars beside or above and below it\n"
    "  --smooth        each frame pixel is the average of the picture's pixels it\n"
    "                  covers (default: one of them, as Pixmora shows a click)\n"
    "  --no-upright    keep photos as stored (default: turned upright as the camera\n"
    "                  recorded it in the photo)\n"
    "  --crop X,Y,W,H  fit only this part of IN, as Pixmora's Choose the part does\n"
    "                  (not of --blend and --frame pictures): W x H pixels from X\n"
    "                  pixels right of the top-left corner and Y down, in the\n"
    "                  picture as it stands upright (as stored with --no-upright),\n"
    "                  or shares of its sides, e.g. 10%,0%,80%,100% (up to two\n"
    "                  decimals); --fit then treats the part as the whole picture.\n"
    "                  A part that is empty or reaches outside a picture is a\n"
    "                  command-line error, and nothing is written\n"
    "  --focus centre|subject\n"
    "                  where --fit fill takes its square: in the middle (centre, the\n"
    "                  default) or where the picture's content suggests its subject\n"
    "                  is, as Pixmora's Fill the frame around the subject; only with\n"
    "                  --fit fill (stretch and inside show the whole picture) and\n"
    "                  not with --crop (the part is chosen already)\n";

const char kEdits[] =
    "Edits, applied after the fit in the order given:\n"
    "  --rotate left|right\n"
    "                  a quarter turn to the left (anticlockwise) or to the right\n"
    "  --mirror        left and right change places\n"
    "  --flip          top and bottom change places\n"
    "  --negative      each colour level v (0 to 255) becomes 255 - v\n"
    "  --grey          shades of grey, weighing red, green and blue as the eye does\n"
    "  --sepia         the brown tones of an old photograph\n"
    "  --brightness N  add N to every colour level, N from -200 to 200 (levels run\n"
    "                  from 0 to 255 and stop there; as in Pixmora, levels above 128\n"
    "                  come out one lower, so 0 is not quite no change)\n"
    "  --contrast N    move every colour level away from the middle level 128 (N\n"
    "                  above 0) or towards it (below 0): its distance from 128 is\n"
    "                  multiplied by (100 + N) / 100, N from -100 to 100; -100 makes\n"
    "                  the whole picture level 128\n"
    "  --zoom N        N from 10 to 60: the square in the middle, about 1000/N % of\n"
    "                  the frame's side, is enlarged to the whole frame (10: 124 of\n"
    "                  128 pixels, 97 %; 20: 60, 47 %; 40: 28, 22 %; 60: 20, 16 %);\n"
    "                  -10 to -60: the whole picture shrinks into a square of that\n"
    "                  size in the middle, on black; -9 to 9: no change\n"
    "  --blend FILE --blend-percent N\n"
    "                  lay the picture over the background FILE (fitted like IN):\n"
    "                  N % of each colour level comes from the background, the rest\n"
    "                  from the picture (0: the picture alone, 100: the background)\n"
    "  --frame FILE --frame-window X,Y,W,H\n"
    "                  put the picture into the frame picture FILE (fitted like IN):\n"
    "                  shrunk to W x H pixels, its top-left corner at X,Y, counted\n"
    "                  in the frame picture's pixels from its top-left corner (X and\n"
    "                  Y from 1 to 125, W and H from 1 to 127); the window ends at\n"
    "                  pixel 126 at most, a side above 4 becomes a multiple of 4\n"
    "                  (57: 56), and the window's bottom row keeps the frame picture\n";

const char kCommonShort[] =
    "  --strict        a picture whose data ends early or is damaged is an error\n"
    "                  (without it: a warning, and the picture as far as it reads)\n"
    "  -v, --verbose   say what was done: the size read, the turn applied, the part\n"
    "                  shown and where it lands in the frame\n"
    "  -q, --quiet     no progress and no closing summary (warnings stay)\n";

std::string Usage(const char* text) {
    return std::string("Usage: pixmora-cli ") + text + "\n\n";
}

} // namespace

std::string HelpText(const std::string& command) {
    if (command.empty()) return kOverview;
    if (command == "frame")
        return Usage("frame [OPTION]... IN OUT.bmp") +
               "Fit the picture IN into the 128 x 128 frame picture, as Pixmora does when the\n"
               "picture is clicked, and write it as a 24-bit BMP picture.\n\n" +
               kFitting + "\nOther options:\n" + kCommonShort +
               "\nExamples:\n"
               "  pixmora-cli frame photo.jpg photo.bmp\n"
               "  pixmora-cli frame --fit fill --smooth IMG_0031.JPG square.bmp\n"
               "  pixmora-cli frame --crop 1200,400,1800,1800 IMG_0031.JPG face.bmp\n"
               "  pixmora-cli frame --fit fill --focus subject -v IMG_0032.JPG square.bmp\n"
               "  pixmora-cli frame - - < photo.jpg > photo.bmp\n";
    if (command == "edit")
        return Usage("edit [OPTION]... IN OUT.jpg|OUT.bmp") +
               "Fit the picture IN into the frame picture as 'frame' does, apply the edits in\n"
               "the order given, and write the result: OUT.jpg as the baseline JPEG the frame\n"
               "shows (the bytes Pixmora's Save All writes), OUT.bmp as a 24-bit BMP picture.\n"
               "Standard output (-) gets the BMP.\n\n" +
               kFitting + "\n" + kEdits + "\nOther options:\n" + kCommonShort +
               "\nExamples:\n"
               "  pixmora-cli edit photo.jpg small.jpg --fit fill --brightness 30\n"
               "  pixmora-cli edit photo.jpg left.jpg --crop 0%,0%,50%,100% --fit inside\n"
               "  pixmora-cli edit photo.jpg card.bmp --grey --frame border.gif "
               "--frame-window 14,14,100,100\n"
               "  pixmora-cli edit photo.jpg soft.jpg --blend sky.jpg --blend-percent 25 "
               "--rotate right\n";
    if (command == "export")
        return Usage("export [OPTION]... OUTDIR IN...") +
               "Fit and edit every IN and write the set into the folder OUTDIR as 0.jpg, 1.jpg,\n"
               "... in the order given, the pictures of a folder IN in name order. Every input\n"
               "is read first: when any cannot be read, all of them are named with the reason\n"
               "and nothing is written. The set is written all or nothing; OUTDIR is made when\n"
               "missing. A closing line says what was written and skipped. One export at a\n"
               "time writes into a folder (another waits up to a minute), and an export that\n"
               "was cut short there is completed or undone first. An OUTDIR that is also an\n"
               "input folder is refused.\n\n" +
               kFitting + "\n" + kEdits +
               "\nExport options:\n"
               "  --skip-bad      leave out the inputs that cannot be read, naming each\n"
               "                  (without it: name them all and write nothing)\n"
               "  --clean         delete older numbered pictures in OUTDIR beyond the new\n"
               "                  set (the frame would show them after it)\n"
               "  --force         also replace (or, with --clean, delete) numbered files in\n"
               "                  OUTDIR that are not 128 x 128 pictures (without it export\n"
               "                  refuses, naming them)\n"
               "  --no-limit      allow more than 384 pictures (the frame's album holds 384)\n"
               "  --jobs N        pictures worked on at once, 1 to 64 (default: one per\n"
               "                  processor, fewer where memory would not hold them: each\n"
               "                  takes about 120 MB)\n" +
               kCommonShort +
               "\nExamples:\n"
               "  pixmora-cli export /media/FRAME ~/Pictures/holiday\n"
               "  pixmora-cli export --fit fill --smooth --clean card a.jpg b.jpg c.gif\n"
               "  pixmora-cli export --skip-bad --jobs 2 -v out ~/phone --sepia\n"
               "  pixmora-cli export --fit fill --focus subject card ~/Pictures/people\n"
               "  pixmora-cli export --crop 10%,0%,80%,100% card scans/*.jpg\n";
    if (command == "decode")
        return Usage("decode [OPTION]... IN OUT.bmp") +
               "Decode the picture IN and write it at its own size as a BMP picture, as the\n"
               "reader left it (palette pictures keep their palette).\n\n"
               "Options:\n" +
               kCommonShort +
               "\nExamples:\n"
               "  pixmora-cli decode photo.jpg photo.bmp\n"
               "  pixmora-cli decode -v logo.gif logo.bmp\n";
    if (command == "encode")
        return Usage("encode [OPTION]... IN.bmp OUT.jpg") +
               "Encode a 128 x 128 24-bit BMP picture as the baseline JPEG the frame shows,\n"
               "without fitting or changing it.\n\n"
               "Options:\n" +
               kCommonShort +
               "\nExamples:\n"
               "  pixmora-cli encode picture.bmp 0.jpg\n"
               "  pixmora-cli frame photo.jpg - | pixmora-cli encode - 0.jpg\n";
    return "";
}
