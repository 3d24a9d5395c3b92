// resource.h - ids of the saver's resources (win32/resources/Glidescape.rc) and of the
// configuration dialog's controls.
#pragma once

#define IDI_GLIDESCAPE 104         // icon group: one 32 x 32, 16-colour icon
#define IDD_GLIDESCAPE_SETUP 2003  // the configuration dialog

// Controls of the configuration dialog.
#define IDC_SPEED_GROUP 101
#define IDC_SLOW_LABEL 103
#define IDC_FAST_LABEL 104
#define IDC_FLIGHT_SPEED 1000  // horizontal scroll bar, 0 ... 100
#define IDC_OK 1001
#define IDC_CANCEL 1002
#define IDC_LAND_SIZE 1004
#define IDC_OUTPUT_WIDTH 1005
#define IDC_OBJECT_COUNT 1006
#define IDC_NEWLAND_WAIT 1007
#define IDC_AUTOPILOT 1008
#define IDC_TILT 1009
#define IDC_WEB_PAGE 1010
#define IDC_RESTORE_DEFAULTS 1011
#define IDC_MONITORS 1012       // drop-down list: the "Monitors" setting, 0 ... 2
#define IDC_SMOOTH_MOTION 1013  // check box: the "Smooth Motion" setting, 0 or 1
#define IDC_ON_BATTERY 1014     // drop-down list: the "On Battery" setting, 0 ... 2
