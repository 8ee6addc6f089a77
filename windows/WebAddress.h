// The program's web addresses, in one place. Plain string macros so that the
// resource script can splice them into the dialog caption. The project has no
// site yet: these are placeholders under a reserved example domain.
#pragma once

#include "TovacrexVersion.h"

#define TOVACREX_WEB_ADDRESS "https://tovacrex.example.com/"
#define TOVACREX_WEB_PAGE_EN "https://tovacrex.example.com/"
#define TOVACREX_WEB_PAGE_RU "https://tovacrex.example.com/ru/"

#define TOVACREX_CAPTION "Tovacrex v" TOVACREX_VERSION_SHORT " - [" TOVACREX_WEB_ADDRESS "]"
