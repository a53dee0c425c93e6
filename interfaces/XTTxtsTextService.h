// The host's text service: every text a user sees comes from here by number.
#pragma once

#include "XTHostLibsApi.h"

#include <string>

namespace Txts
{
// The text with the given id; empty when the host has no such text.
XTHOSTLIBS_API std::wstring GetString(unsigned int nTextId);
} // namespace Txts
