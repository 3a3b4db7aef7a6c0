// Resource and control identifiers. The values are fixed: the dialog code,
// the tools and the GUI tests all address controls by these numbers.
#pragma once

#define IDI_PIXMORA 100 // application icon: lower than the crop hand (114) so Explorer shows it

#define IDD_MAIN 105
#define IDD_BLEND 109
#define IDD_ROTATE 110
#define IDD_CROP 111
#define IDI_HAND_OPEN 114
#define IDC_HAND_GRAB 116
#define IDD_PROCESS 117
#define IDD_FRAME 119
#define IDD_ABOUT 122
#define IDD_CHOOSE_PART 123

// Main dialog controls
#define IDC_DELETE 3
#define IDC_SAVE_ALL 4
#define IDC_ABOUT 5
#define IDC_DELETE_ALL 6
#define IDC_UPLOAD_FLASH 7
#define IDC_DOWNLOAD_FLASH 8
#define IDC_FOLDER_LIST 1002
#define IDC_ALBUM_LIST 1003
#define IDC_FOLDER_TREE 1007
#define IDC_PREVIEW 1013
#define IDC_UNDO 1022
#define IDC_REDO 1023
#define IDC_BLEND 1024
#define IDC_ROTATE 1025
#define IDC_CROP 1026
#define IDC_PROCESS 1027
#define IDC_FRAME 1028
#define IDC_SAVE_BMP 1029
#define IDC_UPLOAD 1030
#define IDC_DOWNLOAD 1031
#define IDC_PROGRESS 1034

// Tool dialogs (ids shared between tools where the templates share them)
#define IDC_TOOL_PREVIEW 1029 // the (first) preview; the result in blend and frame
#define IDC_TOOL_LEFT 3       // Rotate Left
#define IDC_TOOL_RIGHT 4      // Rotate Right
#define IDC_TOOL_MIRROR 6
#define IDC_TOOL_FLIP 7
#define IDC_BLEND_TRACK 1025
#define IDC_BLEND_OPEN 1026
#define IDC_BLEND_BACKGROUND 1027
#define IDC_BLEND_CURRENT 1028
#define IDC_CROP_CUT 1026
#define IDC_FRAME_ART 1027
#define IDC_FRAME_PHOTO 1028
#define IDC_FRAME_OPEN 1033
#define IDC_FRAME_SELECT 1031
#define IDC_PROC_NEGATIVE 1027
#define IDC_PROC_GRAYSCALE 1028
#define IDC_PROC_SEPIA 1031
#define IDC_PROC_BRIGHTNESS 1032
#define IDC_PROC_CONTRAST 1026
#define IDC_PROC_ZOOM 1030
#define IDC_PROC_TAKE_BRIGHTNESS 1036
#define IDC_PROC_TAKE_CONTRAST 1037
#define IDC_PROC_TAKE_ZOOM 1038

// Choose the part
#define IDC_PART_VIEW 1040    // the whole picture with the part as a square
#define IDC_PART_RESULT 1041  // the frame's picture of the part, 1:1
#define IDC_PART_SUGGEST 1042 // the part back at the content's suggestion
#define IDC_PART_LABEL 1043
#define IDC_PART_HINT 1044

// About dialog
#define IDC_MAIL_LINK 1035

// The contact address behind the About link and on its button
#define PIXMORA_CONTACT "pixmora-support@example.org"
