// Resource ids that XTRm addresses and that the host's resources must supply.
// Dialog templates, controls and texts are separate number spaces that share
// values (7325 is both a control and a text), so each has its own prefix.
// Plain #defines: the resource compiler reads this file too.
#pragma once

// Laid out in columns, as resource editors write id headers.
// clang-format off

// Dialog templates
#define IDD_XTRM_USER_MANAGEMENT        7202
#define IDD_XTRM_ADD_USER               7203
#define IDD_XTRM_SHOW_SETTINGS          7204
#define IDD_XTRM_USER_LOGIN             7322
#define IDD_XTRM_NG_USER_LOGIN          7323
#define IDD_XTRM_USER_LOGIN_HDR         7327
#define IDD_XTRM_USER_LOGIN_HDR_NG      7328
#define IDD_XTRM_SOURCE_SELECTOR        7329
#define IDD_XTRM_CONNECTION_SETTINGS    7347

// PNG image shown behind the header dialogs (resource type "PNG")
#define IDB_XTRM_BACKGROUND             7330

// Controls
#define IDC_XTRM_SETTINGS_TEXT          7216
#define IDC_XTRM_USER_LIST              7234
#define IDC_XTRM_CANDIDATE_LIST         7235
#define IDC_XTRM_ROLE_RADIO1            7236
#define IDC_XTRM_ROLE_RADIO2            7237
#define IDC_XTRM_ROLE_RADIO3            7238
#define IDC_XTRM_ROLE_RADIO4            7239
#define IDC_XTRM_ROLE_RADIO5            7240
#define IDC_XTRM_ADD_USER               7239
#define IDC_XTRM_REMOVE_USER            7240
#define IDC_XTRM_ALL_USERS              7241
#define IDC_XTRM_RESTRICTION_CHECK1     7242
#define IDC_XTRM_RESTRICTION_CHECK2     7244
#define IDC_XTRM_RESTRICTION_CHECK3     7246
#define IDC_XTRM_RESTRICTION_CHECK4     7248
#define IDC_XTRM_RESTRICTION_CHECK5     7250
#define IDC_XTRM_RESTRICTION_CHECK6     7252
#define IDC_XTRM_RESTRICTION_CHECK7     7254
#define IDC_XTRM_RESTRICTION_CHECK8     7256
#define IDC_XTRM_RESTRICTION_CHECK9     7258
#define IDC_XTRM_RESTRICTION_CHECK10    7260
#define IDC_XTRM_RESTRICTION_CHECK11    7262
#define IDC_XTRM_RESTRICTION_CHECK12    7264
#define IDC_XTRM_RESTRICTION_CHECK13    7266
#define IDC_XTRM_RESTRICTION_CHECK14    7268
#define IDC_XTRM_RESTRICTION_CHECK15    7270
#define IDC_XTRM_RESTRICTIONS_FRAME     7271
#define IDC_XTRM_ROLE_FRAME             7272
#define IDC_XTRM_OPEN_USER_MANAGEMENT   7273
#define IDC_XTRM_MODE_TEXT              7280
// Paging through more rights than there are check boxes; optional: a template
// without them shows the first fifteen rights only.
#define IDC_XTRM_RESTRICTIONS_PREVIOUS  7281
#define IDC_XTRM_RESTRICTIONS_NEXT      7282
#define IDC_XTRM_LOGIN_NAMED_RADIO      7322
#define IDC_XTRM_LOGIN_USER_NAME        7324
#define IDC_XTRM_LOGIN_PASSWORD         7325
#define IDC_XTRM_LOGIN_GUEST_RADIO      7326
#define IDC_XTRM_LOGIN_MODE_FRAME       7327
#define IDC_XTRM_NG_USER_NAME           7332
#define IDC_XTRM_NG_PASSWORD            7333
#define IDC_XTRM_SOURCE_RETRY           7334
#define IDC_XTRM_SOURCE_SERVER          7335
#define IDC_XTRM_BACKGROUND             7337
#define IDC_XTRM_SERVER_HOST            7347
#define IDC_XTRM_SERVER_PORT            7348

// Texts (string table)
#define IDS_XTRM_DISCARD_CHANGES        7275
#define IDS_XTRM_ROLE_FOR_USER          7276
#define IDS_XTRM_RIGHTS_OF_USER         7277
#define IDS_XTRM_MODE_EDITABLE          7278
#define IDS_XTRM_MODE_VIEW_ONLY         7279
#define IDS_XTRM_MODE_NOT_EDITABLE      7280
#define IDS_XTRM_LOGIN_WRONG_PASSWORD   7297
#define IDS_XTRM_LOGIN_UNKNOWN_USER     7298
#define IDS_XTRM_LOGIN_USER_LOCKED      7299
#define IDS_XTRM_LOGIN_PASSWORD_EXPIRED 7300
#define IDS_XTRM_LOGIN_SERVER_REFUSED   7301
#define IDS_XTRM_LOGIN_NO_LICENSE       7302
#define IDS_XTRM_LOGIN_SOURCE_UNAVAILABLE 7303
#define IDS_XTRM_LOGIN_GUEST_NOT_ALLOWED 7304
#define IDS_XTRM_LOGIN_TOO_MANY_USERS   7305
#define IDS_XTRM_LOGIN_ACCOUNT_DISABLED 7314
#define IDS_XTRM_LOGIN_CAPTION          7317
#define IDS_XTRM_SERVER_TIMEOUT         7325
#define IDS_XTRM_SERVER_REFUSED         7326
#define IDS_XTRM_SERVER_NOT_FOUND       7328
#define IDS_XTRM_SERVER_INCOMPATIBLE    7329
#define IDS_XTRM_NO_SERVER_MESSAGE      7331

// Change-password dialog: its own block from 7400, above every range the
// other dialogs use. The template is 7400; controls and texts both count
// from 7401 in their own number spaces.
#define IDD_XTRM_CHANGE_PASSWORD        7400

#define IDC_XTRM_PASSWORD_USER          7401
#define IDC_XTRM_PASSWORD_OLD           7402
#define IDC_XTRM_PASSWORD_NEW           7403
#define IDC_XTRM_PASSWORD_CONFIRM       7404
#define IDC_XTRM_PASSWORD_POLICY        7405

// "%1" in the policy and too-short texts stands for the minimum length.
#define IDS_XTRM_PASSWORD_CAPTION       7401
#define IDS_XTRM_PASSWORD_POLICY        7402
#define IDS_XTRM_PASSWORD_MISMATCH      7403
#define IDS_XTRM_PASSWORD_WRONG_OLD     7404
#define IDS_XTRM_PASSWORD_TOO_SHORT     7405
#define IDS_XTRM_PASSWORD_CONTAINS_USER_NAME 7406
#define IDS_XTRM_PASSWORD_NOT_PERMITTED 7407
#define IDS_XTRM_PASSWORD_UNKNOWN_USER  7408
#define IDS_XTRM_PASSWORD_STORE_FAILED  7409
#define IDS_XTRM_PASSWORD_NOT_CHANGED   7410
#define IDS_XTRM_PASSWORD_NAMED_LOGIN_NEEDED 7411
#define IDS_XTRM_PASSWORD_CHANGED       7412
#define IDS_XTRM_PASSWORD_TOO_LONG      7413
// Electronic signatures and the change of an expired password at login:
// templates, controls and texts from 7430 to 7469.
#define IDD_XTRM_SIGNATURE              7430
#define IDD_XTRM_EXPIRED_PASSWORD       7431

#define IDC_XTRM_SIGN_MEANING           7432
#define IDC_XTRM_SIGN_USER              7433
#define IDC_XTRM_SIGN_PASSWORD          7434
#define IDC_XTRM_SIGN_REASON            7435
#define IDC_XTRM_SIGN_NOTE              7436
#define IDC_XTRM_EXPIRED_TEXT           7437

// "%1" in the second-signature note stands for the first signer.
#define IDS_XTRM_SIGN_CAPTION           7440
#define IDS_XTRM_SIGN_FIRST_NOTE        7441
#define IDS_XTRM_SIGN_SECOND_NOTE       7442
#define IDS_XTRM_SIGN_WRONG_PASSWORD    7443
#define IDS_XTRM_SIGN_USER_LOCKED       7444
#define IDS_XTRM_SIGN_ACCOUNT_DISABLED  7445
#define IDS_XTRM_SIGN_SAME_SIGNER       7446
#define IDS_XTRM_SIGN_NOT_PERMITTED     7447
#define IDS_XTRM_SIGN_STORE_FAILED      7448
#define IDS_XTRM_SIGN_INVALID_INPUT     7449
#define IDS_XTRM_SIGN_NOT_SIGNED        7450
#define IDS_XTRM_SIGN_LOGIN_NEEDED      7451
#define IDS_XTRM_SIGN_SECOND_CAPTION    7452
#define IDS_XTRM_PASSWORD_REUSED        7455
#define IDS_XTRM_PASSWORD_TOO_RECENT    7456
#define IDS_XTRM_PASSWORD_ACCOUNT_LOCKED 7457
#define IDS_XTRM_EXPIRED_CAPTION        7458
#define IDS_XTRM_EXPIRED_TEXT           7459
// Lock dialog: its own block from 7470. The template is 7470; controls and
// texts both count from 7471 in their own number spaces.
#define IDD_XTRM_LOCK                   7470

#define IDC_XTRM_LOCK_TEXT              7471
#define IDC_XTRM_LOCK_USER              7472
#define IDC_XTRM_LOCK_PASSWORD          7473

// "%1" in the lock texts stands for the locked user's name.
#define IDS_XTRM_LOCK_CAPTION           7471
#define IDS_XTRM_LOCK_TEXT              7472
#define IDS_XTRM_LOCK_ACCOUNT_LOCKED    7473
// Audit trail dialog: its own block 7490-7529. The template is 7490;
// controls and texts both count from 7491 in their own number spaces.
#define IDD_XTRM_AUDIT_TRAIL            7490

#define IDC_XTRM_AUDIT_FROM             7491
#define IDC_XTRM_AUDIT_TO               7492
#define IDC_XTRM_AUDIT_USER             7493
#define IDC_XTRM_AUDIT_EVENT            7494
#define IDC_XTRM_AUDIT_TEXT             7495
#define IDC_XTRM_AUDIT_APPLY            7496
#define IDC_XTRM_AUDIT_LIST             7497
#define IDC_XTRM_AUDIT_NEWER            7498
#define IDC_XTRM_AUDIT_OLDER            7499
#define IDC_XTRM_AUDIT_PAGE_INFO        7500
#define IDC_XTRM_AUDIT_EXPORT           7501
#define IDC_XTRM_AUDIT_VERIFY           7502
#define IDC_XTRM_AUDIT_VERIFY_RESULT    7503

// "%1" and "%2" stand for the values the texts name.
#define IDS_XTRM_AUDIT_NOT_PERMITTED    7491
#define IDS_XTRM_AUDIT_QUERY_FAILED     7492
#define IDS_XTRM_AUDIT_PAGE             7493
#define IDS_XTRM_AUDIT_NO_ROWS          7494
#define IDS_XTRM_AUDIT_CSV_FILTER       7495
#define IDS_XTRM_AUDIT_EXPORTED         7496
#define IDS_XTRM_AUDIT_EXPORT_FAILED    7497
#define IDS_XTRM_AUDIT_INTACT           7498
#define IDS_XTRM_AUDIT_BROKEN           7499
#define IDS_XTRM_AUDIT_VERIFY_FAILED    7500
// clang-format on
