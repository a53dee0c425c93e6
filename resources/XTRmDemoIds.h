// Resource ids of the sample host application (not needed by hosts).
#pragma once

#define IDR_XTRM_DEMO_MAINFRAME         100

#define ID_XTRM_DEMO_FILE_EXIT          0xE141
#define ID_XTRM_DEMO_ADMIN_USERS        32800
#define ID_XTRM_DEMO_ADMIN_SETTINGS     32801
#define ID_XTRM_DEMO_ADMIN_LOGIN        32802
#define ID_XTRM_DEMO_ADMIN_CONNECTION   32803
