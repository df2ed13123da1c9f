// Identity of the archive plug-in, shared by the code and the version resource.
#pragma once
#define ZORVPACK_DESCRIPTION "ZORVAN DAT Archive Extractor (C) 2026 the ZorvPack developers"
#define ZORVPACK_VERSION_NUMBERS 0, 5, 0, 5
#define ZORVPACK_VERSION_TEXT "0.5.0.5"
