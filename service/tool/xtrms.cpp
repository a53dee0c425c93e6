// xtrms.exe, the administration console of the XTRms rights service.
#include "XTRmsTool.h"

int wmain(int argc, wchar_t* argv[])
{
    XTRmsToolConsole console;
    XTRmsTool tool(console);
    return tool.Run(argc, argv);
}
