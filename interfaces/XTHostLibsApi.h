// Import/export switch of the host family's own libraries (text service, GUI
// library, general library), which live in one DLL of their own.
#pragma once

#if defined(XTHOSTLIBS_STATIC)
#define XTHOSTLIBS_API
#elif defined(XTHOSTLIBS_EXPORTS)
#define XTHOSTLIBS_API __declspec(dllexport)
#else
#define XTHOSTLIBS_API __declspec(dllimport)
#endif
