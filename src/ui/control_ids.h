#pragma once
// Numeric ids of the control panel's controls and commands. The ids are the keys of the
// field store (dialog_fields) and of every handler, so the desktop program, the
// command-line program and the tests address the same values the same way.

namespace serflash::ui::id {

// Commands
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDC_SCAN = 1005;
inline constexpr int IDC_BUTTON_FILE_TO_FILE = 1077; // "Start scan"
inline constexpr int IDC_BUTTON_ADD = 1078;          // "Add an SER file"
inline constexpr int IDC_BUTTON_REMOVE = 1079;       // "Remove an SER file"
inline constexpr int SHOW_FRAME = 1002;              // "Show frame"
inline constexpr int OPEN_FOLDER = 1007;             // "Open folder"
inline constexpr int FOLDER_LIST = 1072;             // "Files in the folder"
inline constexpr int SCAN_TABLE = 1076;              // "SER files for scans"

// Fields and switches of the control panel
inline constexpr int FRAME_NO = 1006;
inline constexpr int PCT_TOP = 1062;
inline constexpr int PCT_LEFT = 1063;
inline constexpr int PCT_RIGHT = 1064;
inline constexpr int PCT_BOTTOM = 1065;
inline constexpr int MASK_RED_ON = 1067;
inline constexpr int MASK_STARS_ON = 1068;
inline constexpr int SHOW_RED_BLUE = 1069;
inline constexpr int MASK_BLUE_ON = 1070;
inline constexpr int FOLDER_NAME = 1081;
inline constexpr int STEP_50 = 1083;
inline constexpr int VALUE_EDIT = 1084; // the value dialog's edit
inline constexpr int STEP_500 = 1085;
inline constexpr int STAR_HALF_WIDTH = 1086;
inline constexpr int RED_MASK_HALF = 1087;
inline constexpr int INITIAL_THRESHOLD = 1088;
inline constexpr int THRESHOLD_STEP = 1089;
inline constexpr int READOUT_X = 1090;
inline constexpr int READOUT_Y = 1091;
inline constexpr int READOUT_VALUE = 1092;
inline constexpr int BLUE_MASK_HALF = 1094;
inline constexpr int THRESHOLD_AT_PRESENT = 1097;
inline constexpr int STAR_MASK_HALF = 1099;
inline constexpr int STEP_5000 = 1100;
inline constexpr int SCATTER_V = 1101;
inline constexpr int SCATTER_H = 1102;
inline constexpr int BIT_SHIFT = 1103;
inline constexpr int ZOOM_100 = 1116;
inline constexpr int ZOOM_50 = 1117;
inline constexpr int ZOOM_33 = 1118;
inline constexpr int ZOOM_25 = 1119;
// Further "Display size" radio buttons: "400%", "200%", "Fit to window".
inline constexpr int ZOOM_400 = 1140;
inline constexpr int ZOOM_200 = 1141;
inline constexpr int ZOOM_FIT = 1142;
inline constexpr int MASK_SELECT_0 = 1120;
inline constexpr int MASK_SELECT_1 = 1121;
inline constexpr int MASK_SELECT_2 = 1122;
inline constexpr int MASK_SELECT_3 = 1123;
inline constexpr int IMAGE_WIDTH = 1124;
inline constexpr int SHOW_MASK_AREAS = 1125;
inline constexpr int STEP_1 = 1126;
inline constexpr int IMAGE_HEIGHT = 1127;
inline constexpr int BIT_SHIFT_STEPPER = 1128;
inline constexpr int STAR_THRESHOLD = 1129;
inline constexpr int CONTINUE_AFTER_SCATTER = 1130; // "Continue after a scattered frame"
// How snapshots are stored: radio buttons "BMP", "PNG", "none".
inline constexpr int SNAPSHOTS_BMP = 1131;
inline constexpr int SNAPSHOTS_PNG = 1132;
inline constexpr int SNAPSHOTS_NONE = 1133;
inline constexpr int EXAMINE_EVERY_FRAME = 1134; // "Examine every frame": one more pass after the passes

// Where the video was taken and how the image is turned: "Site", "Rotation", "Mirrored image".
inline constexpr int SITE = 1143;
inline constexpr int ROTATION = 1144;
inline constexpr int MIRROR = 1145;

// The four manual masks' fields, each UL x, UL y, LR x, LR y.
inline constexpr int MASK_FIELDS[4][4] = {
    {1093, 1095, 1096, 1098},
    {1104, 1105, 1106, 1107},
    {1108, 1109, 1110, 1111},
    {1112, 1113, 1114, 1115},
};

} // namespace serflash::ui::id
