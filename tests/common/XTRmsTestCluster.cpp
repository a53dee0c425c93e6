#include "XTRmsTestCluster.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace
{
// The programs run under Wine: a Unix path is reached through drive Z:.
std::string ReadUnixFile(const std::string& strUnixPath)
{
    std::string strPath = "Z:" + strUnixPath;
    for (char& ch : strPath)
    {
        if (ch == '/')
            ch = '\\';
    }
    std::ifstream file(strPath);
    std::stringstream text;
    text << file.rdbuf();
    std::string strText = text.str();
    while (!strText.empty() && (strText.back() == '\n' || strText.back() == '\r'))
        strText.pop_back();
    return strText;
}
} // namespace

bool XTRmsReadTestServer(const std::string& strUnixDir, XTRmsTestServer* pServer)
{
    const std::string strPort = ReadUnixFile(strUnixDir + "/port");
    const std::string strPassword = ReadUnixFile(strUnixDir + "/password");
    const std::string strAdminPassword = ReadUnixFile(strUnixDir + "/admin-password");
    pServer->nPort = std::atoi(strPort.c_str());
    pServer->strPassword.assign(strPassword.begin(), strPassword.end());
    pServer->strAdminPassword.assign(strAdminPassword.begin(), strAdminPassword.end());
    return pServer->nPort > 0 && !pServer->strPassword.empty() && !pServer->strAdminPassword.empty();
}

bool XTRmsFindTestServer(XTRmsTestServer* pServer, const char* pszVariable)
{
    const char* pszDir = std::getenv(pszVariable);
    return pszDir != nullptr && *pszDir != 0 && XTRmsReadTestServer(pszDir, pServer);
}
