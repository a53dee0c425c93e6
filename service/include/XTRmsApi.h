// Import/export switch of XTRms.dll.
#pragma once

#if defined(XTRMS_EXPORTS)
#define XTRMS_API __declspec(dllexport)
#else
#define XTRMS_API __declspec(dllimport)
#endif
