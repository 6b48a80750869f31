// Product identity and version, shared by the VERSIONINFO of every deliverable.
// The installer carries the same numbers (installer/Velmora.nsi).
#pragma once

#define VELMORA_VERSION_MAJOR 1
#define VELMORA_VERSION_MINOR 5
#define VELMORA_VERSION_PATCH 0
#define VELMORA_VERSION_BUILD 0
#define VELMORA_VERSION_STRING "1.5.0.0"
#define VELMORA_PRODUCT_VERSION_STRING "1.5"

#define VELMORA_PRODUCT_NAME "Velmora"
#define VELMORA_COMPANY_NAME "Orridge"
#define VELMORA_COPYRIGHT "Copyright (C) Orridge"
