// Ids of the dialog templates that only the dialog platform's tests use.
#pragma once

#define IDD_TEST_PLATFORM 9100
#define IDC_TEST_NUMBER 9101
#define IDC_TEST_NAME 9102
#define IDC_TEST_RADIO_A 9103
#define IDC_TEST_RADIO_B 9104
#define IDC_TEST_RADIO_C 9105
#define IDC_TEST_CHECK 9106
#define IDC_TEST_LIST 9107
#define IDC_TEST_MISSING 9199
#define IDD_TEST_SMALL_PICTURE 9110
