#pragma once
// Ids of the program's own resources, shared by pixvane.rc and the code.
// The resource compiler reads this file too, so the ids are plain macros.

#define PV_ICON_PROGRAM 1

// Hand cursors over an image larger than the window.
#define PV_CURSOR_HAND_BOTH 2000  // larger in both directions
#define PV_CURSOR_HAND_WIDE 2001  // wider only
#define PV_CURSOR_HAND_TALL 2002  // taller only

// Icons beside the context menu's items.
#define PV_ICON_OPTIONS 3001
#define PV_ICON_NEW_WINDOW 3003
#define PV_ICON_STOP_SLIDESHOW 3005
#define PV_ICON_HELP 3006
#define PV_ICON_OPEN 3007
#define PV_ICON_CLOSE 3008
#define PV_ICON_NEXT 3009
#define PV_ICON_PREVIOUS 3010
#define PV_ICON_ZOOM_IN 3012
#define PV_ICON_ZOOM_OUT 3013
#define PV_ICON_FREEZE 3023
#define PV_ICON_BROWSE 3025
#define PV_ICON_ADJUST 3026

// The image-adjustment dialog; its sliders, labels and value texts are made
// from the program's table of adjustments, one id each from these bases.
#define PV_DIALOG_ADJUST 11
#define PV_ADJUST_SLIDER 1100
#define PV_ADJUST_VALUE 1120
#define PV_ADJUST_LABEL 1140
#define PV_ADJUST_INVERT 1160
#define PV_ADJUST_RESET 1161

// The image information window: its text and its copy button.
#define PV_DIALOG_INFO 17
#define PV_INFO_TEXT 1700
#define PV_INFO_COPY 1701

// The rename dialog: the old base name, and the field for the new one.
#define PV_DIALOG_RENAME 14
#define PV_RENAME_OLD 8000
#define PV_RENAME_NEW 8001

// The slideshow script dialog: name, delay choice, seconds and switches.
#define PV_DIALOG_SCRIPT 12
#define PV_SCRIPT_NAME 7000
#define PV_SCRIPT_NO_DELAY 7001
#define PV_SCRIPT_KEY_DELAY 7002
#define PV_SCRIPT_FIXED_DELAY 7003
#define PV_SCRIPT_SECONDS 7004
#define PV_SCRIPT_FULL_PATHS 7005
#define PV_SCRIPT_LOOP 7006
#define PV_SCRIPT_NOTEPAD 7007
#define PV_SCRIPT_SELF_DELETE 7008
#define PV_SCRIPT_SORT 7009

// The first-run language dialog.
#define PV_DIALOG_LANGUAGE 10
#define PV_LANGUAGE_LIST 4000
#define PV_LANGUAGE_ASSOCIATE 4002

// One empty page of the options sheet; its controls are made from the
// program's table of options.
#define PV_DIALOG_OPTIONS_PAGE 20

// The key page of the options sheet: the bindings and what to do with them.
#define PV_DIALOG_KEYS 24
#define PV_KEYS_LIST 10055
#define PV_KEYS_ADD 10056
#define PV_KEYS_DELETE 10057
#define PV_KEYS_EDIT 10058
#define PV_KEYS_RESET 10059

// The key dialog: the command, the key's name and the button that records
// the next key pressed (which comes back as command PV_KEY_RECORDED).
#define PV_DIALOG_KEY 26
#define PV_KEY_COMMAND 10060
#define PV_KEY_NAME 10061
#define PV_KEY_RECORD 6
#define PV_KEY_RECORDED 7
