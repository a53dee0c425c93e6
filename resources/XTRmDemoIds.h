// Resource ids of the sample host application (not needed by hosts).
#pragma once

// Laid out in columns, as resource editors write id headers.
// clang-format off

#define IDR_XTRM_DEMO_MAINFRAME         100

#define ID_XTRM_DEMO_FILE_EXIT          0xE141
#define ID_XTRM_DEMO_ADMIN_USERS        32800
#define ID_XTRM_DEMO_ADMIN_SETTINGS     32801
#define ID_XTRM_DEMO_ADMIN_LOGIN        32802
#define ID_XTRM_DEMO_ADMIN_CONNECTION   32803
#define ID_XTRM_DEMO_ADMIN_CHANGE_PASSWORD 32804
#define ID_XTRM_DEMO_ADMIN_LOCK         32805

// The plant-control commands of the main menu and toolbar: one range, so the
// main frame serves them with one command and one update handler.
#define ID_XTRM_DEMO_FIRST_COMMAND      32810
#define ID_XTRM_DEMO_FILE_NEW_RECIPE    32810
#define ID_XTRM_DEMO_FILE_OPEN_RECIPE   32811
#define ID_XTRM_DEMO_FILE_SAVE_RECIPE   32812
#define ID_XTRM_DEMO_FILE_SAVE_AS       32813
#define ID_XTRM_DEMO_FILE_EXPORT_CSV    32814
#define ID_XTRM_DEMO_FILE_EXPORT_AUDIT  32815
#define ID_XTRM_DEMO_FILE_PRINT         32816
#define ID_XTRM_DEMO_FILE_PRINT_PREVIEW 32817
#define ID_XTRM_DEMO_EDIT_UNDO          32818
#define ID_XTRM_DEMO_EDIT_CUT           32819
#define ID_XTRM_DEMO_EDIT_COPY          32820
#define ID_XTRM_DEMO_EDIT_PASTE         32821
#define ID_XTRM_DEMO_EDIT_RECIPE_PARAMS 32822
#define ID_XTRM_DEMO_VIEW_TOOLBAR       32823
#define ID_XTRM_DEMO_VIEW_SHIFT_REPORT  32824
#define ID_XTRM_DEMO_VIEW_BATCH_HISTORY 32825
#define ID_XTRM_DEMO_VIEW_AUDIT_TRAIL   32826
#define ID_XTRM_DEMO_VIEW_TRENDS        32827
#define ID_XTRM_DEMO_BATCH_START        32828
#define ID_XTRM_DEMO_BATCH_HOLD         32829
#define ID_XTRM_DEMO_BATCH_ABORT        32830
#define ID_XTRM_DEMO_TOOLS_CAL_SENSORS  32831
#define ID_XTRM_DEMO_TOOLS_CAL_VALVES   32832
#define ID_XTRM_DEMO_TOOLS_PLANT_CONFIG 32833
#define ID_XTRM_DEMO_TOOLS_OPTIONS      32834
#define ID_XTRM_DEMO_ADMIN_AUDIT_SETUP  32835
#define ID_XTRM_DEMO_ADMIN_PASSWORDS    32836
#define ID_XTRM_DEMO_ADMIN_BACKUP       32837
#define ID_XTRM_DEMO_ADMIN_RESTORE      32838
#define ID_XTRM_DEMO_HELP_CONTENTS      32839
#define ID_XTRM_DEMO_HELP_ABOUT         32840
#define ID_XTRM_DEMO_LAST_COMMAND       32840
// clang-format on
