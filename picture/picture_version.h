// Identity of the picture plug-in, shared by the code and the version resource.
#pragma once
#define ZORVPICT_DESCRIPTION "ZORVAN BMP Import Filter (C) 2026 the ZorvPict developers"
#define ZORVPICT_VERSION_NUMBERS 0, 4, 0, 4
#define ZORVPICT_VERSION_TEXT "0.4.0.4"
