// MFC subset: extension classes. Everything lives in afxwin.h here.
#pragma once
#include "afxwin.h"
