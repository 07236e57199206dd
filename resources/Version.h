/* The version of Setup and Tolvakey: change it here and nowhere else.
   Read by windres as well as by the C++ compilers, so it holds plain #defines only. */
#ifndef TOLVANEX_VERSION_H
#define TOLVANEX_VERSION_H

/* The four numbers of FILEVERSION and PRODUCTVERSION: major, minor, patch, build. */
#define TOLVANEX_VERSION_MAJOR 1
#define TOLVANEX_VERSION_MINOR 0
#define TOLVANEX_VERSION_PATCH 0
#define TOLVANEX_VERSION_BUILD 0
#define TOLVANEX_VERSION_NUMBERS \
    TOLVANEX_VERSION_MAJOR, TOLVANEX_VERSION_MINOR, TOLVANEX_VERSION_PATCH, TOLVANEX_VERSION_BUILD

/* The version as people see it, in the file's properties and in messages. */
#define TOLVANEX_VERSION_STRING "1.00"
#define TOLVANEX_VERSION_WSTRING L"1.00"

/* The project's own copyright, as LICENSE states it (MIT), for the version information. */
#define TOLVANEX_LEGAL_COPYRIGHT "Copyright (c) 2026 the Tolvanex with Hotkeys developers"

/* CMake passes the vendor's company name as a string literal; this covers builds without it. */
#ifndef TOLVANEX_COMPANY_NAME
#define TOLVANEX_COMPANY_NAME "Tolvanex"
#endif

#endif
