// Import/export switch of XTRm.dll.
#pragma once

#if defined(XTRM_EXPORTS)
#define XTRM_API __declspec(dllexport)
#else
#define XTRM_API __declspec(dllimport)
#endif

#include "XTRmVersion.h"
