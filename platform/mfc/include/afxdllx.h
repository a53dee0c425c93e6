// MFC subset: included once by an extension DLL's entry-point source, as with
// the real MFC. The subset needs no extra start-up code.
#pragma once
#include "afxwin.h"
