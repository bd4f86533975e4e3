// Product name and version, shared by the programs and their resource scripts
// (so plain macros: windres reads this file too).
#pragma once

#define PRAVLEN_PRODUCT_TITLE "Velquin TFTP Server"
#define PRAVLEN_VERSION_TEXT "1.7.2"
#define PRAVLEN_VERSION_BINARY 1, 7, 2, 0
