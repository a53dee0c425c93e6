// MFC subset: control bars (CMFCToolBar) and CPngImage.
#pragma once
#include "afxext.h"
#include "afxsub_toolbar.h"
#include "afxsub_pngimage.h"
