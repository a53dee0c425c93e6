// Ids of the MFC subset's own test resources.
#pragma once

// Written with the TOOLBAR statement.
#define IDR_TEST_TOOLBAR_STATEMENT 9300
// The same toolbar as raw data in MFC's own layout (Microsoft's rc).
#define IDR_TEST_TOOLBAR_MFC_LAYOUT 9301
// Version 2: not a layout anybody writes.
#define IDR_TEST_TOOLBAR_BAD_VERSION 9302
// A button count beyond the data.
#define IDR_TEST_TOOLBAR_TRUNCATED 9303
// No bitmap of the same id.
#define IDR_TEST_TOOLBAR_NO_BITMAP 9304
// A frame's menu and title, and no toolbar.
#define IDR_TEST_FRAME 9305
// Names no resource at all.
#define IDR_TEST_MISSING 9399

#define ID_TEST_FIRST 33100
#define ID_TEST_SECOND 33101
