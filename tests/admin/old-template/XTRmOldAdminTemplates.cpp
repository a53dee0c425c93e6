// A resource-only DLL: the linker needs one translation unit; the resources
// are what the tests load.
